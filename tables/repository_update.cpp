// Writing a repository's settings (its header: Status through
// PendingEmptyFilesets) from a caller's record. The name, the slot and
// chain fields and the number are never taken from the caller.
#include <cstdint>
#include <cstring>

#include "kestihistadmin.h"
#include "region/journal.h"
#include "region/lifecycle.h"
#include "region/region_view.h"
#include "tables/arguments.h"
#include "tables/bounded_string.h"
#include "tables/caller_record.h"
#include "tables/repository_table.h"

namespace kha {

int32_t UpdateOneRepositoryHeader(int32_t mode, uint16_t slot, const void* record) {
  if (HistAdminHeader() == nullptr) return KHA_NOT_MAPPED;
  if (record == nullptr) return KHA_INVALID_POINTER;
  RepositoryRecord* stored = RepositoryInTable(SlotArgument(slot));
  if (stored == nullptr) return KHA_REPOSITORY_NOT_FOUND;

  const CallerRecord<RepositoryRecord> from(record, stored);
  const JournalUnit unit;
  if (!SaveForUndo(*stored)) return kUnitRefused;

  // Every mode writes the status, all four paths, the pending values and
  // the settings that have no pending twin.
  stored->Status = from->Status;
  CopyStringField(stored->FilePath, from->FilePath);
  CopyStringField(stored->PendingFilePath, from->PendingFilePath);
  CopyStringField(stored->BackupFilePath, from->BackupFilePath);
  CopyStringField(stored->PendingBackupFilePath, from->PendingBackupFilePath);
  stored->PendingNumberPoints = from->PendingNumberPoints;
  stored->PendingQueueSize = from->PendingQueueSize;
  stored->GlobalFileSetSize = from->GlobalFileSetSize;
  stored->PendingGlobalThreshold = from->PendingGlobalThreshold;
  stored->PendingGlobalTimeSpan = from->PendingGlobalTimeSpan;
  stored->FutureTime = from->FutureTime;
  stored->PastTime = from->PastTime;
  stored->PendingCacheSize = from->PendingCacheSize;
  stored->PendingInsertSize = from->PendingInsertSize;
  stored->PendingEmptyFilesets = from->PendingEmptyFilesets;

  // Mode 0 (the load from the running historian) also writes the values
  // in effect; any other mode keeps what the region holds for them.
  if (mode == 0) {
    stored->NumberPoints = from->NumberPoints;
    stored->QueueSize = from->QueueSize;
    stored->GlobalThreshold = from->GlobalThreshold;
    stored->GlobalTimeSpan = from->GlobalTimeSpan;
    stored->CacheSize = from->CacheSize;
    stored->InsertSize = from->InsertSize;
    stored->EmptyFilesets = from->EmptyFilesets;
  }
  return FlushHistAdminView();
}

}  // namespace kha
