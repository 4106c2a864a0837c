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

// Writes `value` into a record field only when it differs, and counts the
// writes. A macro, because the records are packed: a field may lie at any
// address, and a reference to it would claim an alignment it lacks.
#define KHA_REPAIR_FIELD(changed, field, value)                  \
  do {                                                           \
    const auto wanted_ = static_cast<decltype(field)>(value);   \
    if ((field) != wanted_) {                                    \
      (field) = wanted_;                                         \
      ++(changed);                                               \
    }                                                            \
  } while (false)

// The slots of a table that the region addresses inside this view: the
// high-water mark read as signed 16-bit, cut at the first slot whose
// record does not fit in the view.
template <typename At>
int32_t AddressableSlots(int32_t high_water, At&& at) {
  int32_t slots = 0;
  while (slots < high_water && at(slots + 1) != nullptr) ++slots;
  return slots;
}

void ClearFreedRepository(int32_t& changed, RepositoryRecord& record) {
  KHA_REPAIR_FIELD(changed, record.SlotUsage, kSlotFree);
  KHA_REPAIR_FIELD(changed, record.Status, KHA_STATUS_NOT_SAVED);
  KHA_REPAIR_FIELD(changed, record.ReposNumber, 0);
  KHA_REPAIR_FIELD(changed, record.NumberFS, 0);
  KHA_REPAIR_FIELD(changed, record.FirstFS, 0);
  KHA_REPAIR_FIELD(changed, record.LastFS, 0);
}

void ClearFreedFileSet(int32_t& changed, FileSetRecord& record, int32_t slot) {
  KHA_REPAIR_FIELD(changed, record.SlotUsage, kSlotFree);
  // Freed by a delete (0) or carved out and never used (its own number).
  if (record.Index != slot) KHA_REPAIR_FIELD(changed, record.Index, 0);
  KHA_REPAIR_FIELD(changed, record.ReposIndex, 0);
  KHA_REPAIR_FIELD(changed, record.NextIndex, 0);
}

}  // namespace

int32_t RepairHistAdminRegion() {
  RegionHeader* header = HistAdminHeader();
  if (header == nullptr) return 0;
  int32_t changed = 0;
  const int32_t repository_slots = AddressableSlots(
      header->ReposHighWater, [](int32_t k) { return RepositoryRecordAt(k); });
  const int32_t file_set_slots =
      AddressableSlots(header->FSHighWater, [](int32_t k) { return FileSetRecordAt(k); });

  // File-set slots kept by some chain; 4 KiB, on the stack.
  std::bitset<kMaxSlot + 1> kept;
  int32_t repositories_in_use = 0;
  for (int32_t r = 1; r <= repository_slots; ++r) {
    RepositoryRecord& repository = *RepositoryRecordAt(r);
    KHA_REPAIR_FIELD(changed, repository.Index, r);
    if (repository.SlotUsage != kSlotInUse) {
      ClearFreedRepository(changed, repository);
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
          KHA_REPAIR_FIELD(changed, last_record->NextIndex, 0);
        } else {
          KHA_REPAIR_FIELD(changed, repository.FirstFS, 0);
        }
        break;
      }
      kept.set(static_cast<std::size_t>(slot));
      ++length;
      last = static_cast<int16_t>(slot);
      last_record = file_set;
      slot = file_set->NextIndex;
    }
    KHA_REPAIR_FIELD(changed, repository.NumberFS, length);
    KHA_REPAIR_FIELD(changed, repository.LastFS, last);
  }

  int32_t file_sets_in_use = 0;
  for (int32_t k = 1; k <= file_set_slots; ++k) {
    FileSetRecord& file_set = *FileSetRecordAt(k);
    if (kept.test(static_cast<std::size_t>(k))) {
      KHA_REPAIR_FIELD(changed, file_set.Index, k);
      ++file_sets_in_use;
    } else {
      ClearFreedFileSet(changed, file_set, k);
    }
  }
  KHA_REPAIR_FIELD(changed, header->NumberRepos, repositories_in_use);
  KHA_REPAIR_FIELD(changed, header->NumberFileSets, file_sets_in_use);

  if (changed > 0) (void)FlushHistAdminView();
  return changed;
}

}  // namespace kha

#undef KHA_REPAIR_FIELD
