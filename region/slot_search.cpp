// Handing out slots: the lowest free slot of a table, or a new one carved
// out of the free space between the two tables.
#include <cstdint>

#include "region/lifecycle.h"
#include "region/region_view.h"

namespace kha {
namespace {

// What differs between the two tables for the slot search.
template <typename Record>
struct TableTraits;

template <>
struct TableTraits<RepositoryRecord> {
  using Record = RepositoryRecord;
  static int16_t& HighWater(RegionHeader& header) { return header.ReposHighWater; }
  static Record* At(int32_t slot) { return RepositoryRecordAt(slot); }
  static constexpr uint32_t kRecordSize = kRepositoryRecordSize;
};

template <>
struct TableTraits<FileSetRecord> {
  using Record = FileSetRecord;
  static int16_t& HighWater(RegionHeader& header) { return header.FSHighWater; }
  static Record* At(int32_t slot) { return FileSetRecordAt(slot); }
  static constexpr uint32_t kRecordSize = kFileSetRecordSize;
};

template <typename Record>
int32_t FindFreeSlot(int16_t* slot) {
  using Traits = TableTraits<Record>;
  *slot = 0;
  RegionHeader* header = HistAdminHeader();
  if (header == nullptr) return KHA_NOT_MAPPED;

  // The high-water mark is re-read at every step: it lives in the region.
  for (int32_t k = 1; k <= Traits::HighWater(*header); ++k) {
    Record* record = Traits::At(k);
    if (record == nullptr) break;  // the rest of the table lies outside the view
    if (record->SlotUsage == kSlotFree) {
      *slot = static_cast<int16_t>(k);
      return FlushHistAdminView();
    }
  }

  // A new slot: only when the free space allows it, its number fits in
  // 16 bits, and its record lies inside the view whatever the header says.
  const int32_t high_water = Traits::HighWater(*header);
  const int32_t next = high_water + 1;
  Record* fresh = high_water >= 0 ? Traits::At(next) : nullptr;
  if (FreeSpace() < Traits::kRecordSize || fresh == nullptr) return KHA_NO_SPACE;
  fresh->SlotUsage = kSlotFree;
  fresh->Index = static_cast<int16_t>(next);
  Traits::HighWater(*header) = static_cast<int16_t>(next);
  *slot = static_cast<int16_t>(next);
  return FlushHistAdminView();
}

}  // namespace

int32_t FindFreeRepositorySlot(int16_t* slot) { return FindFreeSlot<RepositoryRecord>(slot); }

int32_t FindFreeFileSetSlot(int16_t* slot) { return FindFreeSlot<FileSetRecord>(slot); }

}  // namespace kha
