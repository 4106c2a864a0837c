#include "transfer/repository_settings.h"

#include "transfer/historian_paths.h"

namespace kha {

void StoreSettingsAsPending(const RepositoryList& list, RepositoryRecord* record) {
  CopyPathField(record->PendingFilePath, list.file_path);
  CopyPathField(record->PendingBackupFilePath, list.backup_file_path);
  record->PendingNumberPoints = list.number_points;
  record->NumberFS = list.file_set_count;
  record->PendingQueueSize = list.queue_size;
  record->GlobalFileSetSize = list.global_file_set_size;
  record->PendingGlobalThreshold = list.global_threshold;
  record->PendingGlobalTimeSpan = list.global_time_span;
  record->PastTime = list.past_time;
  record->FutureTime = list.future_time;
  record->PendingCacheSize = list.cache_size;
  record->PendingInsertSize = list.insert_size;
  record->PendingEmptyFilesets = list.empty_file_sets;
}

void PutPendingSettingsIntoEffect(RepositoryRecord* record) {
  CopyPathField(record->FilePath, record->PendingFilePath);
  CopyPathField(record->BackupFilePath, record->PendingBackupFilePath);
  record->NumberPoints = record->PendingNumberPoints;
  record->QueueSize = record->PendingQueueSize;
  record->GlobalThreshold = record->PendingGlobalThreshold;
  record->GlobalTimeSpan = record->PendingGlobalTimeSpan;
  record->CacheSize = record->PendingCacheSize;
  record->InsertSize = record->PendingInsertSize;
  record->EmptyFilesets = record->PendingEmptyFilesets;
}

RepositoryList PendingSettingsOf(const RepositoryRecord& record, int16_t file_set_count) {
  RepositoryList list;
  CopyPathField(list.file_path, record.PendingFilePath);
  CopyPathField(list.backup_file_path, record.PendingBackupFilePath);
  list.number_points = record.PendingNumberPoints;
  list.file_set_count = file_set_count;
  list.queue_size = record.PendingQueueSize;
  list.global_file_set_size = record.GlobalFileSetSize;
  list.global_threshold = record.PendingGlobalThreshold;
  list.global_time_span = record.PendingGlobalTimeSpan;
  list.past_time = record.PastTime;
  list.future_time = record.FutureTime;
  list.cache_size = record.PendingCacheSize;
  list.insert_size = record.PendingInsertSize;
  list.empty_file_sets = record.PendingEmptyFilesets;
  return list;
}

GlobalFileSetValues GlobalFileSetValuesOf(const RepositoryList& list) {
  return {list.global_file_set_size, list.global_threshold, list.global_time_span};
}

}  // namespace kha
