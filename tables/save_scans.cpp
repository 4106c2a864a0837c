// The scans that serve the save to the configuration files: how many
// repositories are to be saved (Status 1 or 3), their slots in slot order,
// and how many file sets of each are to be saved. Under one holding of
// the mutex, with the same capacity, entry i of both lists speaks of the
// same repository.
#include <cstdint>

#include "kestihistadmin.h"
#include "region/region_view.h"
#include "tables/chain.h"
#include "tables/repository_table.h"
#include "tables/status.h"

namespace kha {
namespace {

// Stores `entry(slot)` for each repository to be saved, in slot order,
// until `capacity` entries are stored.
template <typename Entry>
int32_t ListRepositoriesToSave(int16_t capacity, uint16_t* entries, Entry&& entry) {
  if (HistAdminHeader() == nullptr) return KHA_NOT_MAPPED;
  if (capacity <= 0) return KHA_OK;
  if (entries == nullptr) return KHA_INVALID_POINTER;
  int32_t stored = 0;
  ForEachRepositoryInUse([&](int16_t slot, const RepositoryRecord& record) {
    if (IsToBeSaved(record.Status)) entries[stored++] = entry(slot);
    return stored < capacity;
  });
  return KHA_OK;
}

}  // namespace

int16_t GetNumberOfRepositoriesToSave() {
  int16_t to_save = 0;
  ForEachRepositoryInUse([&](int16_t, const RepositoryRecord& record) {
    if (IsToBeSaved(record.Status)) ++to_save;  // at most 32,767 slots
    return true;
  });
  return to_save;
}

int32_t ListRepositorySlotsToSave(int16_t capacity, uint16_t* slots) {
  return ListRepositoriesToSave(capacity, slots,
                                [](int16_t slot) { return static_cast<uint16_t>(slot); });
}

int32_t ListFileSetCountsToSave(int16_t capacity, uint16_t* counts) {
  return ListRepositoriesToSave(capacity, counts,
                                [](int16_t slot) { return CountFileSetsToSave(slot); });
}

uint16_t CountFileSetsToSave(int16_t slot) {
  const RepositoryRecord* repository = RepositoryInTable(slot);
  if (repository == nullptr) return 0;
  uint16_t to_save = 0;
  ForEachFileSetInChain(*repository, [&](int16_t, const FileSetRecord& file_set, int32_t) {
    if (IsFileSetToBeSaved(file_set)) ++to_save;
    return true;
  });
  return to_save;
}

}  // namespace kha
