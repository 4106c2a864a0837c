// One repository's settings from the running historian: the values in
// effect, with every pending twin equal to them.
#include <cstring>

#include "historian/marnuser.h"
#include "kestihistadmin.h"
#include "tables/repository_table.h"
#include "transfer/historian_lists.h"
#include "transfer/historian_paths.h"
#include "transfer/repository_settings.h"
#include "transfer/transfer.h"

namespace kha {

int32_t LoadRepositoryHeaderFromMarn(int32_t repository_index, uint16_t repository_slot,
                                     GlobalFileSetValues* globals) {
  RepositoryRecord record;
  std::memset(&record, 0, sizeof(record));

  RepositoryList list;
  if (GetRepositoryList(MARN_SOURCE_RUNNING, repository_index, &list) != 0) {
    return KHA_MARN_REPOSITORY_HEADER_FAILED;
  }
  FixHistoryPath(list.file_path);
  FixHistoryPath(list.backup_file_path);
  StoreSettingsAsPending(list, &record);
  PutPendingSettingsIntoEffect(&record);
  record.Status = KHA_STATUS_ACTIVE;
  // The reported file-set count is not kept: the chain is built arc by arc.

  *globals = GlobalFileSetValuesOf(list);
  return UpdateOneRepositoryHeader(0, repository_slot, &record);
}

}  // namespace kha
