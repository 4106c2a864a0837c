// Each change below repeats, write for write and in the same order, what
// the library's operation does to the view (tables/repository_add.cpp,
// file_set_add.cpp, file_set_delete.cpp, repository_release_file_sets.cpp,
// repository_delete.cpp and the slot search of region/slot_search.cpp).
// Before each write it asks whether the budget of steps allows one more.
#include "half_written.h"

#include <cstring>

#include "region/layout.h"
#include "region/region_view.h"
#include "tables/repository_table.h"

namespace kha::test::reliability {
namespace {

class Budget {
 public:
  explicit Budget(int32_t steps) : left_(steps) {}
  // True when one more write may be done (and counts it).
  bool Next() {
    if (left_ <= 0) return false;
    --left_;
    return true;
  }

 private:
  int32_t left_;
};

// The slot search: the lowest free slot, or a newly carved one.
// False when there is no room (the change ends there, as the library's
// does with -2022) or the budget ran out.
template <typename At>
bool FindOrCarve(Budget& budget, int16_t& high_water, uint32_t record_size, At&& at,
                 int16_t* slot) {
  for (int32_t k = 1; k <= high_water; ++k) {
    auto* record = at(k);
    if (record == nullptr) break;
    if (record->SlotUsage == kSlotFree) {
      *slot = static_cast<int16_t>(k);
      return true;
    }
  }
  const auto next = static_cast<int16_t>(high_water + 1);
  auto* fresh = high_water >= 0 ? at(next) : nullptr;
  if (FreeSpace() < record_size || fresh == nullptr) return false;
  if (!budget.Next()) return false;
  fresh->SlotUsage = kSlotFree;
  if (!budget.Next()) return false;
  fresh->Index = next;
  if (!budget.Next()) return false;
  high_water = next;
  *slot = next;
  return true;
}

// FreeFileSetSlot, write by write.
bool FreeFileSet(Budget& budget, RegionHeader& header, FileSetRecord& file_set) {
  if (file_set.SlotUsage == kSlotInUse) {
    if (!budget.Next()) return false;
    header.NumberFileSets = static_cast<uint16_t>(header.NumberFileSets - 1);
  }
  if (!budget.Next()) return false;
  file_set.SlotUsage = kSlotFree;
  if (!budget.Next()) return false;
  file_set.Index = 0;
  if (!budget.Next()) return false;
  file_set.ReposIndex = 0;
  if (!budget.Next()) return false;
  file_set.NextIndex = 0;
  return true;
}

bool AddRepository(Budget& budget, RegionHeader& header) {
  int16_t slot = 0;
  if (!FindOrCarve(budget, header.ReposHighWater, kRepositoryRecordSize, RepositoryRecordAt,
                   &slot)) return false;
  RepositoryRecord& record = *RepositoryRecordAt(slot);
  if (!budget.Next()) return false;
  header.NumberRepos = static_cast<uint16_t>(header.NumberRepos + 1);
  if (!budget.Next()) return false;
  record.ReposNumber = static_cast<uint16_t>(HighestRepositoryNumber() + 1);
  if (!budget.Next()) return false;
  std::strcpy(record.RepositoryName, "HalfWritten");
  if (!budget.Next()) return false;
  record.Status = 1;
  if (!budget.Next()) return false;
  record.SlotUsage = kSlotInUse;
  if (!budget.Next()) return false;
  record.Index = slot;
  if (!budget.Next()) return false;
  record.NumberFS = 0;
  if (!budget.Next()) return false;
  record.FirstFS = 0;
  if (!budget.Next()) return false;
  record.LastFS = 0;
  return true;
}

bool AddFileSet(Budget& budget, RegionHeader& header, RepositoryRecord& repository, int16_t owner) {
  int16_t slot = 0;
  if (!FindOrCarve(budget, header.FSHighWater, kFileSetRecordSize, FileSetRecordAt, &slot)) return false;
  FileSetRecord& file_set = *FileSetRecordAt(slot);
  if (!budget.Next()) return false;
  header.NumberFileSets = static_cast<uint16_t>(header.NumberFileSets + 1);
  if (!budget.Next()) return false;
  file_set.RecordStatus = 1;
  if (!budget.Next()) return false;
  file_set.SlotUsage = kSlotInUse;
  if (!budget.Next()) return false;
  file_set.Index = slot;
  if (!budget.Next()) return false;
  file_set.ReposIndex = owner;
  if (!budget.Next()) return false;
  file_set.NextIndex = 0;
  if (!budget.Next()) return false;
  repository.NumberFS = static_cast<int16_t>(repository.NumberFS + 1);
  if (!budget.Next()) return false;
  if (repository.FirstFS == 0) {
    repository.FirstFS = slot;
  } else if (FileSetRecord* last = FileSetInTable(repository.LastFS); last != nullptr) {
    last->NextIndex = slot;
  }
  if (!budget.Next()) return false;
  repository.LastFS = slot;
  return true;
}

bool DeleteFileSet(Budget& budget, RegionHeader& header, RepositoryRecord& repository,
                   int16_t number) {
  if (number < 1 || number > repository.NumberFS) return true;  // nothing to delete
  FileSetRecord* previous = nullptr;
  int16_t previous_slot = 0;
  int16_t slot = repository.FirstFS;
  for (int32_t position = 1; position < number; ++position) {
    previous = FileSetInTable(slot);
    if (previous == nullptr) return true;
    previous_slot = slot;
    slot = previous->NextIndex;
  }
  FileSetRecord* file_set = FileSetInTable(slot);
  if (file_set == nullptr) return true;
  if (number == 1) {
    if (!budget.Next()) return false;
    repository.FirstFS = file_set->NextIndex;
    if (repository.FirstFS == 0) {
      if (!budget.Next()) return false;
      repository.LastFS = 0;
    }
  } else if (number == repository.NumberFS) {
    if (!budget.Next()) return false;
    repository.LastFS = previous_slot;
    if (!budget.Next()) return false;
    previous->NextIndex = 0;
  } else {
    if (!budget.Next()) return false;
    previous->NextIndex = file_set->NextIndex;
  }
  if (!FreeFileSet(budget, header, *file_set)) return false;
  if (!budget.Next()) return false;
  repository.NumberFS = static_cast<int16_t>(repository.NumberFS - 1);
  return true;
}

bool ReleaseFileSets(Budget& budget, RegionHeader& header, RepositoryRecord& repository) {
  int16_t slot = repository.FirstFS;
  for (int32_t visited = 0; visited < repository.NumberFS && slot != 0; ++visited) {
    FileSetRecord* file_set = FileSetInTable(slot);
    if (file_set == nullptr) break;
    const int16_t next = file_set->NextIndex;
    if (!FreeFileSet(budget, header, *file_set)) return false;
    slot = next;
  }
  if (!budget.Next()) return false;
  repository.NumberFS = 0;
  if (!budget.Next()) return false;
  repository.FirstFS = 0;
  if (!budget.Next()) return false;
  repository.LastFS = 0;
  return true;
}

bool DeleteRepository(Budget& budget, RegionHeader& header, RepositoryRecord& repository) {
  if (repository.SlotUsage != kSlotInUse) return true;
  if (!ReleaseFileSets(budget, header, repository)) return false;
  if (!budget.Next()) return false;
  repository.SlotUsage = kSlotFree;
  if (!budget.Next()) return false;
  repository.Status = 0;
  if (!budget.Next()) return false;
  repository.ReposNumber = 0;
  if (!budget.Next()) return false;
  repository.NumberFS = 0;
  if (!budget.Next()) return false;
  repository.FirstFS = 0;
  if (!budget.Next()) return false;
  repository.LastFS = 0;
  if (!budget.Next()) return false;
  header.NumberRepos = static_cast<uint16_t>(header.NumberRepos - 1);
  return true;
}

}  // namespace

const char* ChangeName(Change change) {
  switch (change) {
    case Change::kAddRepository: return "add repository";
    case Change::kAddFileSet: return "add file set";
    case Change::kDeleteFileSet: return "delete file set";
    case Change::kReleaseFileSets: return "release file sets";
    case Change::kDeleteRepository: return "delete repository";
    default: return "?";
  }
}

bool WriteFirstSteps(Change change, uint16_t repository_slot, int16_t file_set_number,
                     int32_t steps) {
  RegionHeader* header = HistAdminHeader();
  if (header == nullptr) return true;
  Budget budget(steps);
  if (change == Change::kAddRepository) return AddRepository(budget, *header);
  const auto owner = static_cast<int16_t>(repository_slot);
  RepositoryRecord* repository = RepositoryInTable(owner);
  if (repository == nullptr || repository->SlotUsage != kSlotInUse) return true;
  switch (change) {
    case Change::kAddFileSet: return AddFileSet(budget, *header, *repository, owner);
    case Change::kDeleteFileSet: return DeleteFileSet(budget, *header, *repository, file_set_number);
    case Change::kReleaseFileSets: return ReleaseFileSets(budget, *header, *repository);
    case Change::kDeleteRepository: return DeleteRepository(budget, *header, *repository);
    default: return true;
  }
}

}  // namespace kha::test::reliability
