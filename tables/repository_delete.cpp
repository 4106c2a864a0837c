// Deleting a repository: its file sets first, then its slot. The freed
// slot keeps its name, paths, settings and Index; ReposHighWater stays,
// and the next add takes the lowest free slot, maybe this one.
#include <cstdint>

#include "kestihistadmin.h"
#include "region/journal.h"
#include "region/lifecycle.h"
#include "region/region_view.h"
#include "region/slot_hints.h"
#include "tables/arguments.h"
#include "tables/counts.h"
#include "tables/repository_table.h"

namespace kha {

int32_t DeleteOneRepository(uint16_t slot) {
  RegionHeader* header = HistAdminHeader();
  if (header == nullptr) return KHA_NOT_MAPPED;
  RepositoryRecord* repository = RepositoryInTable(SlotArgument(slot));
  if (repository == nullptr) return KHA_REPOSITORY_NOT_FOUND;
  // A slot that is not in use holds no repository to delete: NumberRepos
  // must not be lowered for it.
  if (repository->SlotUsage != kSlotInUse) return KHA_OK;

  const JournalUnit unit;
  // On a failed flush the file sets are already released and the
  // repository stays in use with an empty chain.
  if (const int32_t result = DeleteAllFileSetForOneRepository(slot); result != KHA_OK) {
    return result;
  }
  if (!SaveHeaderForUndo(*header) || !SaveForUndo(*repository)) return kUnitRefused;
  repository->SlotUsage = kSlotFree;
  ForgetFreeSlotHints();
  repository->Status = KHA_STATUS_NOT_SAVED;
  repository->ReposNumber = 0;
  repository->NumberFS = 0;
  repository->FirstFS = 0;
  repository->LastFS = 0;
  header->NumberRepos = CountLowered(header->NumberRepos);
  return FlushHistAdminView();
}

}  // namespace kha
