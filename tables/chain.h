// Walks over the region's tables, bounded whatever the region holds.
// Called with the HistAdmin mutex held.
#pragma once

#include <algorithm>
#include <cstddef>
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
  const RegionHeader* header = HistAdminHeader();
  const int32_t in_view = FileSetSlotsInView();
  if (header == nullptr || in_view == 0) return 0;
  auto* const slot_one = reinterpret_cast<std::byte*>(FileSetRecordAt(1));
  int32_t visited = 0;
  int32_t slot = repository.FirstFS;
  const int32_t length = repository.NumberFS;
  while (visited < length && slot != 0) {
    // FSHighWater is re-read at every step: it lives in the region.
    if (slot < 1 || slot > in_view || slot > header->FSHighWater) break;
    auto* record = reinterpret_cast<FileSetRecord*>(
        slot_one +
        static_cast<std::ptrdiff_t>(slot - 1) * static_cast<std::ptrdiff_t>(kFileSetRecordSize));
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
// stop. The view and the region's size are fixed while the mutex is held,
// so the slots in view are found once per walk; ReposHighWater is re-read
// at every step, since it lives in the region.
template <typename Visit>
void ForEachRepositoryInUse(Visit&& visit) {
  const RegionHeader* header = HistAdminHeader();
  if (header == nullptr) return;
  const int32_t in_view = RepositorySlotsInView();
  if (in_view == 0) return;
  auto* const slot_one = reinterpret_cast<std::byte*>(RepositoryRecordAt(1));
  for (int32_t slot = 1; slot <= in_view && slot <= header->ReposHighWater; ++slot) {
    auto* record = reinterpret_cast<RepositoryRecord*>(
        slot_one -
        static_cast<std::ptrdiff_t>(slot - 1) * static_cast<std::ptrdiff_t>(kRepositoryRecordSize));
    if (record->SlotUsage != kSlotInUse) continue;
    if (!visit(static_cast<int16_t>(slot), *record)) return;
  }
}

// The repository slots 1..count that a read-only scan looks at, as one
// run of records: count is ReposHighWater, or fewer when fewer slots lie
// in the view. Taken once per scan, for scans that write nothing.
struct RepositoryRun {
  std::byte* slot_one = nullptr;
  int32_t count = 0;

  const RepositoryRecord& At(int32_t slot) const {
    return *reinterpret_cast<const RepositoryRecord*>(
        slot_one -
        static_cast<std::ptrdiff_t>(slot - 1) * static_cast<std::ptrdiff_t>(kRepositoryRecordSize));
  }
};

inline RepositoryRun RepositoryRunInTable() {
  const RegionHeader* header = HistAdminHeader();
  if (header == nullptr) return {};
  const int32_t count = std::min<int32_t>(RepositorySlotsInView(), header->ReposHighWater);
  if (count < 1) return {};
  return {reinterpret_cast<std::byte*>(RepositoryRecordAt(1)), count};
}

}  // namespace kha
