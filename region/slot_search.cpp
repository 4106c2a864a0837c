// Handing out slots: the lowest free slot of a table, or a new one carved
// out of the free space between the two tables.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "region/journal.h"
#include "region/lifecycle.h"
#include "region/region_view.h"
#include "region/slot_hints.h"

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
  static int32_t SlotsInView() { return RepositorySlotsInView(); }
  static constexpr uint32_t kRecordSize = kRepositoryRecordSize;
  static constexpr SlotTable kTable = SlotTable::kRepository;
  // Slot k + 1 lies just below slot k.
  static constexpr std::ptrdiff_t kStep = -static_cast<std::ptrdiff_t>(kRepositoryRecordSize);
};

template <>
struct TableTraits<FileSetRecord> {
  using Record = FileSetRecord;
  static int16_t& HighWater(RegionHeader& header) { return header.FSHighWater; }
  static Record* At(int32_t slot) { return FileSetRecordAt(slot); }
  static int32_t SlotsInView() { return FileSetSlotsInView(); }
  static constexpr uint32_t kRecordSize = kFileSetRecordSize;
  static constexpr SlotTable kTable = SlotTable::kFileSet;
  // Slot k + 1 lies just above slot k.
  static constexpr std::ptrdiff_t kStep = static_cast<std::ptrdiff_t>(kFileSetRecordSize);
};

// True when every file-set slot up to FSHighWater ends before the lowest
// repository slot up to ReposHighWater begins.
bool TablesLieApart(const RegionHeader& header) {
  const int64_t file_sets_end =
      static_cast<int64_t>(kFileSetTableOffset) +
      static_cast<int64_t>(header.FSHighWater) * static_cast<int64_t>(kFileSetRecordSize);
  const int64_t repositories_start =
      static_cast<int64_t>(header.RegionSize) -
      static_cast<int64_t>(header.ReposHighWater) * static_cast<int64_t>(kRepositoryRecordSize);
  return header.FSHighWater >= 0 && header.ReposHighWater >= 0 &&
         file_sets_end <= repositories_start;
}

template <typename Record>
int32_t FindFreeSlot(int16_t* slot) {
  using Traits = TableTraits<Record>;
  *slot = 0;
  RegionHeader* header = HistAdminHeader();
  if (header == nullptr) return KHA_NOT_MAPPED;

  // The high-water mark is re-read at every step: it lives in the region.
  // The search ends where the table leaves the view; the slots before that
  // lie evenly spaced from slot 1, so the view is checked only once.
  //
  // Slots below the one a hint of this thread's hold names are known not
  // to be free. Hints are kept only while the two tables lie apart: where
  // they overlap, a write to one table can free a slot of the other.
  const int32_t in_view = Traits::SlotsInView();
  auto* const slot_one = reinterpret_cast<std::byte*>(Traits::At(1));
  const bool apart = TablesLieApart(*header);
  int32_t k = apart ? FirstSlotThatMayBeFree(Traits::kTable, header) : 1;
  for (; k <= Traits::HighWater(*header) && k <= in_view; ++k) {
    auto* record = reinterpret_cast<Record*>(slot_one + (k - 1) * Traits::kStep);
    if (record->SlotUsage == kSlotFree) {
      if (apart) NoteNoFreeSlotBelow(Traits::kTable, header, k);
      *slot = static_cast<int16_t>(k);
      return FlushHistAdminView();
    }
  }

  // A new slot: only when the free space allows it, its number fits in
  // 16 bits, and its record lies inside the view whatever the header says.
  const int32_t high_water = Traits::HighWater(*header);
  const int32_t next = high_water + 1;
  if (apart) NoteNoFreeSlotBelow(Traits::kTable, header, std::min(k, next));
  Record* fresh = high_water >= 0 ? Traits::At(next) : nullptr;
  if (FreeSpace() < Traits::kRecordSize || fresh == nullptr) return KHA_NO_SPACE;
  // The whole record: the add that carves it fills it next.
  const JournalUnit unit;
  if (!SaveHeaderForUndo(*header) || !SaveForUndo(*fresh)) return kUnitRefused;
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
