// Walks over the region's tables, bounded whatever the region holds.
// Called with the HistAdmin mutex held.
//
// Each walk takes the tables' geometry once (region/table_geometry.h) and
// finds every record and every bound from that copy, so a header another
// process rewrites during the walk cannot send it outside the view.
#pragma once

#include <cstdint>

#include "region/layout.h"
#include "region/table_geometry.h"

namespace kha {

// Visits the file sets of `repository`'s chain in order: from FirstFS,
// following NextIndex, at most NumberFS file sets, stopping early at a
// NextIndex of 0 or at a slot outside 1..FSHighWater (or outside the
// view). `visit(slot, record, position)` gets the 1-based position and
// returns false to stop. Returns the number of file sets visited.
template <typename Visit>
int32_t ForEachFileSetInChain(const RepositoryRecord& repository, Visit&& visit) {
  const TableGeometry geometry = ReadTableGeometry();
  int32_t visited = 0;
  int32_t slot = repository.FirstFS;
  const int32_t length = repository.NumberFS;
  while (visited < length && slot != 0) {
    FileSetRecord* record = geometry.FileSetInTable(slot);
    if (record == nullptr) break;
    ++visited;
    // Read before the visit: the visitor may free the record.
    const int32_t next = record->NextIndex;
    if (!visit(static_cast<int16_t>(slot), *record, visited)) break;
    slot = next;
  }
  return visited;
}

// Visits every repository in use (SlotUsage 1), slots 1 to ReposHighWater
// in increasing order (from the end of the region downward), stopping at
// the first slot outside the view. `visit(slot, record)` returns false to
// stop.
template <typename Visit>
void ForEachRepositoryInUse(Visit&& visit) {
  const TableGeometry geometry = ReadTableGeometry();
  const int32_t in_table = geometry.RepositorySlotsInTable();
  for (int32_t slot = 1; slot <= in_table; ++slot) {
    RepositoryRecord* record = geometry.RepositoryInView(slot);
    if (record->SlotUsage != kSlotInUse) continue;
    if (!visit(static_cast<int16_t>(slot), *record)) return;
  }
}

// The repository slots 1..count that a read-only scan looks at: count is
// ReposHighWater, or fewer when fewer slots lie in the view. Taken once
// per scan, for scans that write nothing.
struct RepositoryRun {
  TableGeometry geometry;
  int32_t count = 0;

  // `slot` in 1..count.
  const RepositoryRecord& At(int32_t slot) const { return *geometry.RepositoryInView(slot); }
};

inline RepositoryRun RepositoryRunInTable() {
  const TableGeometry geometry = ReadTableGeometry();
  return {geometry, geometry.RepositorySlotsInTable()};
}

}  // namespace kha
