// One checked reading of the header fields that place the two tables.
//
// The region's header is written by every attached process, and a process
// that ignores the mutex may change it at any moment. An operation
// therefore reads RegionSize and the high-water marks once, into this
// copy, and computes every record address and every bound of a walk from
// the copy: a header changed meanwhile can make it see old values, never
// an address outside the view. Called with the HistAdmin mutex held.
#pragma once

#include <cstddef>
#include <cstdint>

#include "region/layout.h"
#include "region/layout_rules.h"

namespace kha {

struct TableGeometry {
  std::byte* base = nullptr;  // null: no view mapped (or too small for a header)
  std::size_t view_length = 0;
  uint32_t region_size = 0;
  int16_t repos_high_water = 0;
  int16_t fs_high_water = 0;
  // Slots 1..n of each table whose records lie wholly inside the view,
  // behind the tuning block (n is at most 32767; 0 when slot 1 does not).
  int32_t repository_slots_in_view = 0;
  int32_t file_set_slots_in_view = 0;

  // The record of slot k when 1 <= k <= the slots in view; null otherwise.
  // Neither looks at the high-water marks.
  RepositoryRecord* RepositoryAt(int32_t slot) const {
    return IsSlotOf(slot, repository_slots_in_view) ? RepositoryInView(slot) : nullptr;
  }
  FileSetRecord* FileSetAt(int32_t slot) const {
    return IsSlotOf(slot, file_set_slots_in_view) ? FileSetInView(slot) : nullptr;
  }

  // The record of slot k when 1 <= k <= the table's high-water mark and
  // the record lies in the view; null otherwise.
  RepositoryRecord* RepositoryInTable(int32_t slot) const {
    return IsSlotOf(slot, RepositorySlotsInTable()) ? RepositoryInView(slot) : nullptr;
  }
  FileSetRecord* FileSetInTable(int32_t slot) const {
    return IsSlotOf(slot, FileSetSlotsInTable()) ? FileSetInView(slot) : nullptr;
  }

  // The same for a slot already known to lie in 1..the slots in view (a
  // scan's bound), without the check.
  RepositoryRecord* RepositoryInView(int32_t slot) const {
    return reinterpret_cast<RepositoryRecord*>(base + RepositoryRecordOffset(region_size, slot));
  }
  FileSetRecord* FileSetInView(int32_t slot) const {
    return reinterpret_cast<FileSetRecord*>(base + FileSetRecordOffset(slot));
  }

  // Slots 1..n that are both in the table (up to its high-water mark) and
  // in the view: every one has a record.
  int32_t RepositorySlotsInTable() const {
    return Bounded(repos_high_water, repository_slots_in_view);
  }
  int32_t FileSetSlotsInTable() const { return Bounded(fs_high_water, file_set_slots_in_view); }

  bool TablesLieApart() const {
    return kha::TablesLieApart(region_size, repos_high_water, fs_high_water);
  }

  // Room for new slots; 0 when the tables overlap, a mark is negative, the
  // region claims more bytes than the view holds, or nothing is mapped.
  uint32_t FreeSpace() const {
    if (base == nullptr || region_size > view_length) return 0;
    return FreeSpaceBetweenTables(region_size, repos_high_water, fs_high_water);
  }

 private:
  // Slot numbers are 1-based; `count` never exceeds the 32767 that a
  // signed 16-bit slot number can name.
  static bool IsSlotOf(int32_t slot, int32_t count) { return slot >= 1 && slot <= count; }
  static int32_t Bounded(int32_t high_water, int32_t in_view) {
    if (high_water < 0) return 0;
    return high_water < in_view ? high_water : in_view;
  }
};

// Reads the header once (each field exactly once) and checks it against
// the view of this process.
TableGeometry ReadTableGeometry();

}  // namespace kha
