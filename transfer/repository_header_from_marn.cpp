// One repository's settings from the running historian: the values in
// effect, with every pending twin equal to them.
#include <cstring>

#include "historian/marnuser.h"
#include "kestihistadmin.h"
#include "tables/repository_table.h"
#include "transfer/historian_lists.h"
#include "transfer/historian_paths.h"
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

  CopyPathField(record.FilePath, list.file_path);
  CopyPathField(record.PendingFilePath, list.file_path);
  CopyPathField(record.BackupFilePath, list.backup_file_path);
  CopyPathField(record.PendingBackupFilePath, list.backup_file_path);
  record.NumberPoints = record.PendingNumberPoints = list.number_points;
  record.QueueSize = record.PendingQueueSize = list.queue_size;
  record.GlobalFileSetSize = list.global_file_set_size;
  record.GlobalThreshold = record.PendingGlobalThreshold = list.global_threshold;
  record.GlobalTimeSpan = record.PendingGlobalTimeSpan = list.global_time_span;
  record.PastTime = list.past_time;
  record.FutureTime = list.future_time;
  record.CacheSize = record.PendingCacheSize = list.cache_size;
  record.InsertSize = record.PendingInsertSize = list.insert_size;
  record.EmptyFilesets = record.PendingEmptyFilesets = list.empty_file_sets;
  record.Status = KHA_STATUS_ACTIVE;
  // The reported file-set count is not kept: the chain is built arc by arc.

  globals->size = list.global_file_set_size;
  globals->threshold = list.global_threshold;
  globals->time_span = list.global_time_span;

  return UpdateOneRepositoryHeader(0, repository_slot, &record);
}

}  // namespace kha
