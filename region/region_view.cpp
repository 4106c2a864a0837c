#include "region/region_view.h"

#include <algorithm>

#include "region/process_state.h"

namespace kha {
namespace {

struct MappedView {
  std::byte* base;
  std::size_t length;
};

MappedView CurrentView() {
  ProcessState& process = HistAdminProcess();
  return {process.view.load(std::memory_order_acquire),
          process.view_length.load(std::memory_order_acquire)};
}

// True when [offset, offset + size) lies behind the tuning block and inside
// the view. 64-bit arithmetic: no header value can make it wrap.
bool FitsInView(const MappedView& view, int64_t offset, std::size_t size) {
  return view.base != nullptr && offset >= static_cast<int64_t>(kFileSetTableOffset) &&
         offset + static_cast<int64_t>(size) <= static_cast<int64_t>(view.length);
}

}  // namespace

RegionHeader* HistAdminHeader() {
  const MappedView view = CurrentView();
  if (view.base == nullptr || view.length < kFileSetTableOffset) return nullptr;
  return reinterpret_cast<RegionHeader*>(view.base);
}

TuningData* HistAdminTuning() {
  const MappedView view = CurrentView();
  if (view.base == nullptr || view.length < kFileSetTableOffset) return nullptr;
  return reinterpret_cast<TuningData*>(view.base + kTuningOffset);
}

RepositoryRecord* RepositoryRecordAt(int32_t slot) {
  const MappedView view = CurrentView();
  if (view.base == nullptr || view.length < kFileSetTableOffset) return nullptr;
  if (slot < 1 || slot > kMaxSlot) return nullptr;
  const auto* header = reinterpret_cast<const RegionHeader*>(view.base);
  const int64_t offset = static_cast<int64_t>(header->RegionSize) -
                         static_cast<int64_t>(slot) * static_cast<int64_t>(kRepositoryRecordSize);
  if (!FitsInView(view, offset, kRepositoryRecordSize)) return nullptr;
  return reinterpret_cast<RepositoryRecord*>(view.base + offset);
}

FileSetRecord* FileSetRecordAt(int32_t slot) {
  const MappedView view = CurrentView();
  if (slot < 1 || slot > kMaxSlot) return nullptr;
  const int64_t offset = static_cast<int64_t>(kFileSetTableOffset) +
                         static_cast<int64_t>(slot - 1) * static_cast<int64_t>(kFileSetRecordSize);
  if (!FitsInView(view, offset, kFileSetRecordSize)) return nullptr;
  return reinterpret_cast<FileSetRecord*>(view.base + offset);
}

RepositoryRecord* RepositoryInTable(int32_t slot) {
  const RegionHeader* header = HistAdminHeader();
  if (header == nullptr || slot > header->ReposHighWater) return nullptr;
  return RepositoryRecordAt(slot);
}

FileSetRecord* FileSetInTable(int32_t slot) {
  const RegionHeader* header = HistAdminHeader();
  if (header == nullptr || slot > header->FSHighWater) return nullptr;
  return FileSetRecordAt(slot);
}

int32_t RepositorySlotsInView() {
  const RepositoryRecord* slot_one = RepositoryRecordAt(1);
  if (slot_one == nullptr) return 0;
  // Slot 1 ends at RegionSize inside the view, so every later slot, lying
  // below it, ends inside the view too; they run out at the tuning block.
  const int64_t region_size = HistAdminHeader()->RegionSize;
  const int64_t fit = (region_size - static_cast<int64_t>(kFileSetTableOffset)) /
                      static_cast<int64_t>(kRepositoryRecordSize);
  return static_cast<int32_t>(std::min<int64_t>(fit, kMaxSlot));
}

int32_t FileSetSlotsInView() {
  const MappedView view = CurrentView();
  if (view.base == nullptr || view.length < kFileSetTableOffset) return 0;
  const int64_t fit = static_cast<int64_t>(view.length - kFileSetTableOffset) /
                      static_cast<int64_t>(kFileSetRecordSize);
  return static_cast<int32_t>(std::min<int64_t>(fit, kMaxSlot));
}

int16_t NextFileSetIndex(int32_t slot) {
  const FileSetRecord* record = FileSetRecordAt(slot);
  return record != nullptr ? record->NextIndex : int16_t{0};
}

uint32_t FreeSpace() {
  const MappedView view = CurrentView();
  const RegionHeader* header = HistAdminHeader();
  if (header == nullptr) return 0;
  const int64_t region_size = header->RegionSize;
  const int64_t repos_high_water = header->ReposHighWater;
  const int64_t fs_high_water = header->FSHighWater;
  // A header that does not describe tables inside the view (negative
  // marks, a size beyond the view) leaves nothing to carve.
  if (repos_high_water < 0 || fs_high_water < 0 ||
      region_size > static_cast<int64_t>(view.length)) {
    return 0;
  }
  const int64_t free_bytes = region_size -
                             repos_high_water * static_cast<int64_t>(kRepositoryRecordSize) -
                             (fs_high_water * static_cast<int64_t>(kFileSetRecordSize) +
                              static_cast<int64_t>(kFileSetTableOffset));
  return free_bytes > 0 ? static_cast<uint32_t>(free_bytes) : 0;
}

}  // namespace kha
