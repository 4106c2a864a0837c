#include "region/region_view.h"

#include <algorithm>

#include "region/process_state.h"
#include "region/slot_hints.h"
#include "region/table_geometry.h"

namespace kha {
namespace {

struct MappedView {
  std::byte* base;
  std::size_t length;
};

// A thread whose wait for the mutex failed finds no view: it would share
// the region with the holder.
MappedView CurrentView() {
  if (WaitFailedInThisHold()) return {nullptr, 0};
  ProcessState& process = HistAdminProcess();
  const MappedView view{process.view.load(std::memory_order_acquire),
                        process.view_length.load(std::memory_order_acquire)};
  if (view.base == nullptr || view.length < kFileSetTableOffset) return {nullptr, 0};
  return view;
}

int32_t SlotsThatFit(int64_t bytes, std::size_t record_size) {
  if (bytes < static_cast<int64_t>(record_size)) return 0;
  return static_cast<int32_t>(
      std::min<int64_t>(bytes / static_cast<int64_t>(record_size), int64_t{kMaxSlot}));
}

}  // namespace

TableGeometry ReadTableGeometry() {
  const MappedView view = CurrentView();
  TableGeometry geometry;
  if (view.base == nullptr) return geometry;
  geometry.base = view.base;
  geometry.view_length = view.length;
  // Each field is loaded exactly once: a volatile read cannot be repeated
  // by the compiler behind our back, whatever another process writes.
  const auto* header = reinterpret_cast<const volatile RegionHeader*>(view.base);
  geometry.region_size = header->RegionSize;
  geometry.repos_high_water = header->ReposHighWater;
  geometry.fs_high_water = header->FSHighWater;
  // Repository slot 1 ends at RegionSize, so the table is in the view when
  // RegionSize is; its slots run out at the tuning block. The file-set
  // table runs from the tuning block to the end of the view.
  if (geometry.region_size <= view.length) {
    geometry.repository_slots_in_view = SlotsThatFit(
        int64_t{geometry.region_size} - int64_t{kFileSetTableOffset}, kRepositoryRecordSize);
  }
  geometry.file_set_slots_in_view = SlotsThatFit(
      static_cast<int64_t>(view.length) - int64_t{kFileSetTableOffset}, kFileSetRecordSize);
  return geometry;
}

RegionHeader* HistAdminHeader() { return reinterpret_cast<RegionHeader*>(CurrentView().base); }

TuningData* HistAdminTuning() {
  std::byte* base = CurrentView().base;
  return base != nullptr ? reinterpret_cast<TuningData*>(base + kTuningOffset) : nullptr;
}

RepositoryRecord* RepositoryRecordAt(int32_t slot) {
  return ReadTableGeometry().RepositoryAt(slot);
}

FileSetRecord* FileSetRecordAt(int32_t slot) { return ReadTableGeometry().FileSetAt(slot); }

RepositoryRecord* RepositoryInTable(int32_t slot) {
  return ReadTableGeometry().RepositoryInTable(slot);
}

FileSetRecord* FileSetInTable(int32_t slot) { return ReadTableGeometry().FileSetInTable(slot); }

int16_t NextFileSetIndex(int32_t slot) {
  const FileSetRecord* record = FileSetRecordAt(slot);
  return record != nullptr ? record->NextIndex : int16_t{0};
}

uint32_t FreeSpace() { return ReadTableGeometry().FreeSpace(); }

}  // namespace kha
