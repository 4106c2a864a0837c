// One file set from the running historian: its values in effect, with its
// pending values equal to them, or its repository's defaults when it has
// no valid values of its own.
#include <cstring>

#include "historian/marnuser.h"
#include "kestihistadmin.h"
#include "tables/file_set_table.h"
#include "transfer/historian_lists.h"
#include "transfer/historian_paths.h"
#include "transfer/transfer.h"

namespace kha {

int32_t LoadOneFileSetFromMarn(int32_t repository_index, int32_t arc_index,
                               uint16_t repository_slot, uint16_t file_set_slot,
                               const GlobalFileSetValues& globals) {
  FileSetRecord record;
  std::memset(&record, 0, sizeof(record));

  ArcList arc;
  if (GetArcList(MARN_SOURCE_RUNNING, repository_index, arc_index, &arc) != 0) {
    return KHA_MARN_FILESET_FAILED;
  }
  FixHistoryPath(arc.file_path);

  record.HistoryStatus = arc.history_status;
  CopyPathField(record.FilePath, arc.file_path);
  CopyPathField(record.PendingFilePath, arc.file_path);
  record.StartTime = {arc.start_time.seconds, arc.start_time.microseconds};
  record.EndTime = {arc.end_time.seconds, arc.end_time.microseconds};

  if (HasOwnFileSetValues(arc.size, arc.threshold, arc.time_span)) {
    record.ParamSource = 1;
    record.Size = record.PendingSize = arc.size;
    record.Threshold = record.PendingThreshold = arc.threshold;
    record.Timespan = record.PendingTimespan = arc.time_span;
  } else {
    record.ParamSource = 0;
    record.Size = record.PendingSize = globals.size;
    record.Threshold = record.PendingThreshold = globals.threshold;
    record.Timespan = record.PendingTimespan = globals.time_span;
  }
  record.Percentage = 0.0f;
  record.RecordStatus = KHA_STATUS_ACTIVE;

  return UpdateOneFileSet(KHA_UPDATE_EVERY_FIELD, repository_slot, file_set_slot, &record);
}

}  // namespace kha
