// The repair after an abandoned HistAdmin mutex. It works from what every
// record says about itself (SlotUsage, ReposIndex, the chain links) and
// ends with a region that every operation's invariants hold for again. It
// is idempotent: a repair killed half way is simply run again by the next
// process that finds the mutex abandoned.
#include "tables/region_repair.h"

#include <bitset>
#include <cstdint>

#include "region/layout.h"
#include "region/lifecycle.h"
#include "region/region_view.h"

namespace kha {
namespace {

// Counts the fields the repair writes, and writes only fields that change.
class Repairs {
 public:
  template <typename Field, typename Value>
  void Set(Field& field, Value value) {
    const auto wanted = static_cast<Field>(value);
    if (field == wanted) return;
    field = wanted;
    ++changed_;
  }
  int32_t Changed() const { return changed_; }

 private:
  int32_t changed_ = 0;
};

// The slots of a table that the region addresses inside this view: the
// high-water mark read as signed 16-bit, cut at the first slot whose
// record does not fit in the view.
template <typename At>
int32_t AddressableSlots(int32_t high_water, At&& at) {
  int32_t slots = 0;
  while (slots < high_water && at(slots + 1) != nullptr) ++slots;
  return slots;
}

void ClearFreedRepository(Repairs& repairs, RepositoryRecord& record) {
  repairs.Set(record.SlotUsage, kSlotFree);
  repairs.Set(record.Status, KHA_STATUS_NOT_SAVED);
  repairs.Set(record.ReposNumber, 0);
  repairs.Set(record.NumberFS, 0);
  repairs.Set(record.FirstFS, 0);
  repairs.Set(record.LastFS, 0);
}

void ClearFreedFileSet(Repairs& repairs, FileSetRecord& record, int32_t slot) {
  repairs.Set(record.SlotUsage, kSlotFree);
  // Freed by a delete (0) or carved out and never used (its own number).
  if (record.Index != slot) repairs.Set(record.Index, 0);
  repairs.Set(record.ReposIndex, 0);
  repairs.Set(record.NextIndex, 0);
}

}  // namespace

int32_t RepairHistAdminRegion() {
  RegionHeader* header = HistAdminHeader();
  if (header == nullptr) return 0;
  Repairs repairs;
  const int32_t repository_slots = AddressableSlots(
      header->ReposHighWater, [](int32_t k) { return RepositoryRecordAt(k); });
  const int32_t file_set_slots =
      AddressableSlots(header->FSHighWater, [](int32_t k) { return FileSetRecordAt(k); });

  // File-set slots kept by some chain; 4 KiB, on the stack.
  std::bitset<kMaxSlot + 1> kept;
  int32_t repositories_in_use = 0;
  for (int32_t r = 1; r <= repository_slots; ++r) {
    RepositoryRecord& repository = *RepositoryRecordAt(r);
    repairs.Set(repository.Index, r);
    if (repository.SlotUsage != kSlotInUse) {
      ClearFreedRepository(repairs, repository);
      continue;
    }
    ++repositories_in_use;
    int16_t length = 0;
    int16_t last = 0;
    FileSetRecord* last_record = nullptr;
    for (int32_t slot = repository.FirstFS; slot != 0;) {
      FileSetRecord* file_set = slot >= 1 && slot <= file_set_slots ? FileSetRecordAt(slot)
                                                                    : nullptr;
      if (file_set == nullptr || file_set->SlotUsage != kSlotInUse || file_set->ReposIndex != r ||
          kept.test(static_cast<std::size_t>(slot))) {
        // The chain ends before this link.
        if (last_record != nullptr) {
          repairs.Set(last_record->NextIndex, 0);
        } else {
          repairs.Set(repository.FirstFS, 0);
        }
        break;
      }
      kept.set(static_cast<std::size_t>(slot));
      ++length;
      last = static_cast<int16_t>(slot);
      last_record = file_set;
      slot = file_set->NextIndex;
    }
    repairs.Set(repository.NumberFS, length);
    repairs.Set(repository.LastFS, last);
  }

  int32_t file_sets_in_use = 0;
  for (int32_t k = 1; k <= file_set_slots; ++k) {
    FileSetRecord& file_set = *FileSetRecordAt(k);
    if (kept.test(static_cast<std::size_t>(k))) {
      repairs.Set(file_set.Index, k);
      ++file_sets_in_use;
    } else {
      ClearFreedFileSet(repairs, file_set, k);
    }
  }
  repairs.Set(header->NumberRepos, repositories_in_use);
  repairs.Set(header->NumberFileSets, file_sets_in_use);

  if (repairs.Changed() > 0) (void)FlushHistAdminView();
  return repairs.Changed();
}

}  // namespace kha
