// What a repository's chain says about its file sets as a whole: whether
// one of them is active (RecordStatus 1 or 2) and which is current (the
// first open one: StartTime seconds not 0, EndTime seconds 0).
#include <cstdint>

#include "kestihistadmin.h"
#include "region/region_view.h"
#include "tables/arguments.h"
#include "tables/chain.h"
#include "tables/file_set_table.h"
#include "tables/status.h"

namespace kha {

int32_t RepositoryHasOneActiveFileSet(uint16_t repository_slot) {
  const RepositoryRecord* repository = RepositoryInTable(SlotArgument(repository_slot));
  if (repository == nullptr) return 0;
  int32_t active = 0;
  ForEachFileSetInChain(*repository, [&](int16_t, const FileSetRecord& file_set, int32_t) {
    if (IsActiveFileSet(file_set.RecordStatus)) active = 1;
    return active == 0;
  });
  return active;
}

int16_t GetCurrentFileSetForOneRepository(uint16_t repository_slot) {
  const RepositoryRecord* repository = RepositoryInTable(SlotArgument(repository_slot));
  if (repository == nullptr || repository->NumberFS < 1) return 0;
  int16_t current = 0;
  ForEachFileSetInChain(*repository, [&](int16_t, const FileSetRecord& file_set, int32_t position) {
    if (file_set.StartTime.Seconds != 0 && file_set.EndTime.Seconds == 0) {
      current = static_cast<int16_t>(position);
    }
    return current == 0;
  });
  return current;
}

}  // namespace kha
