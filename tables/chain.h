// Walks over the region's tables, bounded whatever the region holds.
// Called with the HistAdmin mutex held.
#pragma once

#include <cstdint>

#include "region/layout.h"
#include "region/region_view.h"

namespace kha {

// Visits the file sets of `repository`'s chain in order: from FirstFS,
// following NextIndex, at most NumberFS file sets, stopping early at a
// NextIndex of 0 or at a slot outside 1..FSHighWater (or outside the
// view). `visit(slot, record, position)` gets the 1-based position and
// returns false to stop. Returns the number of file sets visited.
template <typename Visit>
int32_t ForEachFileSetInChain(const RepositoryRecord& repository, Visit&& visit) {
  int32_t visited = 0;
  int32_t slot = repository.FirstFS;
  const int32_t length = repository.NumberFS;
  while (visited < length && slot != 0) {
    FileSetRecord* record = FileSetInTable(slot);
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
// in increasing order (from the end of the region downward), skipping
// slots outside the view. `visit(slot, record)` returns false to stop.
template <typename Visit>
void ForEachRepositoryInUse(Visit&& visit) {
  for (int32_t slot = 1;; ++slot) {
    const RegionHeader* header = HistAdminHeader();
    if (header == nullptr || slot > header->ReposHighWater)
      return;  // re-read: it lives in the region
    RepositoryRecord* record = RepositoryRecordAt(slot);
    if (record == nullptr) return;  // this slot and every later one lie outside the view
    if (record->SlotUsage != kSlotInUse) continue;
    if (!visit(static_cast<int16_t>(slot), *record)) return;
  }
}

}  // namespace kha
