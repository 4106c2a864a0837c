// Handing out slots: the lowest free slot of a table, or a new one carved
// out of the free space between the two tables.
#include <algorithm>
#include <cstdint>

#include "region/journal.h"
#include "region/lifecycle.h"
#include "region/region_view.h"
#include "region/slot_hints.h"
#include "region/table_geometry.h"

namespace kha {
namespace {

// What differs between the two tables for the slot search.
template <typename Record>
struct TableTraits;

template <>
struct TableTraits<RepositoryRecord> {
  static int16_t& HighWater(RegionHeader& header) { return header.ReposHighWater; }
  static int32_t HighWater(const TableGeometry& geometry) { return geometry.repos_high_water; }
  static int32_t SlotsInView(const TableGeometry& geometry) {
    return geometry.repository_slots_in_view;
  }
  static RepositoryRecord* InView(const TableGeometry& geometry, int32_t slot) {
    return geometry.RepositoryInView(slot);
  }
  static constexpr uint32_t kRecordSize = kRepositoryRecordSize;
  static constexpr SlotTable kTable = SlotTable::kRepository;
};

template <>
struct TableTraits<FileSetRecord> {
  static int16_t& HighWater(RegionHeader& header) { return header.FSHighWater; }
  static int32_t HighWater(const TableGeometry& geometry) { return geometry.fs_high_water; }
  static int32_t SlotsInView(const TableGeometry& geometry) {
    return geometry.file_set_slots_in_view;
  }
  static FileSetRecord* InView(const TableGeometry& geometry, int32_t slot) {
    return geometry.FileSetInView(slot);
  }
  static constexpr uint32_t kRecordSize = kFileSetRecordSize;
  static constexpr SlotTable kTable = SlotTable::kFileSet;
};

template <typename Record>
int32_t FindFreeSlot(int16_t* slot) {
  using Traits = TableTraits<Record>;
  *slot = 0;
  RegionHeader* header = HistAdminHeader();
  if (header == nullptr) return KHA_NOT_MAPPED;

  // One reading of the header for the whole search: the bounds of the
  // scan, the new slot's address and the free space all come from it.
  //
  // Slots below the one a hint of this thread's hold names are known not
  // to be free. Hints are kept only while the two tables lie apart: where
  // they overlap, a write to one table can free a slot of the other.
  const TableGeometry geometry = ReadTableGeometry();
  const int32_t high_water = Traits::HighWater(geometry);
  const int32_t in_view = Traits::SlotsInView(geometry);
  const bool apart = geometry.TablesLieApart();
  int32_t k = apart ? FirstSlotThatMayBeFree(Traits::kTable, header) : 1;
  for (; k <= high_water && k <= in_view; ++k) {
    Record* record = Traits::InView(geometry, k);
    if (record->SlotUsage == kSlotFree) {
      if (apart) NoteNoFreeSlotBelow(Traits::kTable, header, k);
      *slot = static_cast<int16_t>(k);
      return FlushHistAdminView();
    }
  }

  // A new slot: only when the free space allows it, its number fits in
  // 16 bits, and its record lies inside the view whatever the header says.
  const int32_t next = high_water + 1;
  if (apart) NoteNoFreeSlotBelow(Traits::kTable, header, std::min(k, next));
  if (high_water < 0 || next > in_view || geometry.FreeSpace() < Traits::kRecordSize) {
    return KHA_NO_SPACE;
  }
  Record* fresh = Traits::InView(geometry, next);
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
