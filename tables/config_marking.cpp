// The marking steps with which the load from the configuration files
// begins: every record still marked 2 after the load is one that the
// configuration files no longer hold.
#include <cstdint>

#include "kestihistadmin.h"
#include "region/journal.h"
#include "region/lifecycle.h"
#include "region/region_view.h"
#include "tables/arguments.h"
#include "tables/chain.h"
#include "tables/file_set_table.h"
#include "tables/repository_table.h"

namespace kha {

int32_t MarkRepositoriesForConfigLoad() {
  if (HistAdminHeader() == nullptr) return KHA_NOT_MAPPED;
  const JournalUnit unit;
  ForEachRepositoryInUse([&](int16_t slot, RepositoryRecord& repository) {
    if (repository.Status == KHA_STATUS_ACTIVE) {
      if (!KHA_SAVE_FIELDS_FOR_UNDO(repository, Status, Status)) return false;
      repository.Status = KHA_STATUS_MARKED;
    }
    // A repository with Status 0 keeps its slot but loses its file sets;
    // the scan goes on whatever the release returns.
    if (repository.Status == KHA_STATUS_NOT_SAVED) {
      (void)DeleteAllFileSetForOneRepository(static_cast<uint16_t>(slot));
    }
    return unit.Result(KHA_OK) == KHA_OK;
  });
  return unit.Result(FlushHistAdminView());
}

int32_t MarkAllFileSetsForOneRepository(uint16_t repository_slot) {
  if (HistAdminHeader() == nullptr) return KHA_NOT_MAPPED;
  const RepositoryRecord* repository = RepositoryInTable(SlotArgument(repository_slot));
  if (repository == nullptr) return KHA_REPOSITORY_NOT_FOUND;
  const JournalUnit unit;
  ForEachFileSetInChain(*repository, [](int16_t, FileSetRecord& file_set, int32_t) {
    if (file_set.RecordStatus != KHA_STATUS_ACTIVE) return true;
    if (!KHA_SAVE_FIELDS_FOR_UNDO(file_set, RecordStatus, RecordStatus)) return false;
    file_set.RecordStatus = KHA_STATUS_MARKED;
    return true;
  });
  return unit.Result(FlushHistAdminView());
}

}  // namespace kha
