// Releasing every file set of one repository: the chain's slots are freed
// for later adds anywhere in the region and the repository stays in use
// with an empty chain. Used on its own, by the delete of a repository and
// by the marking step of the configuration load.
#include <cstdint>

#include "kestihistadmin.h"
#include "region/journal.h"
#include "region/lifecycle.h"
#include "region/region_view.h"
#include "tables/arguments.h"
#include "tables/chain.h"
#include "tables/counts.h"
#include "tables/file_set_slot.h"
#include "tables/repository_table.h"

namespace kha {

int32_t DeleteAllFileSetForOneRepository(uint16_t slot) {
  RegionHeader* header = HistAdminHeader();
  if (header == nullptr) return KHA_NOT_MAPPED;
  RepositoryRecord* repository = RepositoryInTable(SlotArgument(slot));
  if (repository == nullptr) return KHA_REPOSITORY_NOT_FOUND;

  const JournalUnit unit;
  if (!KHA_SAVE_FIELDS_FOR_UNDO(*repository, NumberFS, LastFS)) return kUnitRefused;
  bool recorded = true;
  ForEachFileSetInChain(*repository, [&](int16_t, FileSetRecord& file_set, int32_t) {
    recorded = FreeFileSetSlot(*header, file_set);
    return recorded;
  });
  if (!recorded) return kUnitRefused;
  repository->NumberFS = 0;
  repository->FirstFS = 0;
  repository->LastFS = 0;
  return FlushHistAdminView();
}

}  // namespace kha
