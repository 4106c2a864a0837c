// Writing a file set's fields from a caller's record. The slot and chain
// fields (SlotUsage, Index, ReposIndex, NextIndex) are never taken from
// the caller.
#include <cstdint>
#include <cstring>

#include "kestihistadmin.h"
#include "region/journal.h"
#include "region/lifecycle.h"
#include "region/region_view.h"
#include "tables/arguments.h"
#include "tables/bounded_string.h"
#include "tables/caller_record.h"
#include "tables/file_set_table.h"

namespace kha {

int32_t UpdateOneFileSet(int32_t mode, uint16_t /*repository_slot: accepted, not used*/,
                         uint16_t file_set_slot, const void* record) {
  if (HistAdminHeader() == nullptr) return KHA_NOT_MAPPED;
  if (record == nullptr) return KHA_INVALID_POINTER;
  FileSetRecord* stored = FileSetInTable(SlotArgument(file_set_slot));
  if (stored == nullptr) return KHA_INVALID_FILESET_NUMBER;

  const CallerRecord<FileSetRecord> from(record, stored);
  const JournalUnit unit;
  if (!SaveForUndo(*stored)) return kUnitRefused;

  // Every mode writes the status, both paths, the pending values, the
  // parameter source, the percentage and the four spare values.
  stored->RecordStatus = from->RecordStatus;
  CopyStringField(stored->FilePath, from->FilePath);
  CopyStringField(stored->PendingFilePath, from->PendingFilePath);
  stored->ParamSource = from->ParamSource;
  stored->PendingSize = from->PendingSize;
  stored->PendingThreshold = from->PendingThreshold;
  stored->PendingTimespan = from->PendingTimespan;
  stored->Percentage = from->Percentage;
  std::memcpy(stored->Spare1, from->Spare1, sizeof from->Spare1);
  std::memcpy(stored->Spare2, from->Spare2, sizeof from->Spare2);
  std::memcpy(stored->Spare3, from->Spare3, sizeof from->Spare3);
  std::memcpy(stored->Spare4, from->Spare4, sizeof from->Spare4);

  // Mode 0 (the load from the running historian) also writes the time
  // range, the values in effect and the historian's status of the file set.
  if (mode == 0) {
    stored->StartTime = from->StartTime;
    stored->EndTime = from->EndTime;
    stored->Size = from->Size;
    stored->Threshold = from->Threshold;
    stored->Timespan = from->Timespan;
    stored->HistoryStatus = from->HistoryStatus;
  }
  return FlushHistAdminView();
}

}  // namespace kha
