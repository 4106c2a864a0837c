// One arc of the configuration files: matched by path with a file set of
// its repository, or added as a new one. The path and the pending values
// are stored; the start and end times, history status and values in
// effect read from the files are not (the update's mode 1 keeps them).
#include <cstring>

#include "historian/marnuser.h"
#include "kestihistadmin.h"
#include "region/region_view.h"
#include "tables/file_set_table.h"
#include "transfer/chain_path_index.h"
#include "transfer/historian_lists.h"
#include "transfer/historian_paths.h"
#include "transfer/transfer.h"

namespace kha {
namespace {

// Fills the path in effect and the source of the values, deciding on the
// pending values read: a file set without valid values of its own takes
// its repository's defaults.
void ApplyValueSource(FileSetRecord* record, const GlobalFileSetValues& globals) {
  std::memcpy(record->FilePath, record->PendingFilePath, kPathFieldSize);
  if (HasOwnFileSetValues(record->PendingSize, record->PendingThreshold, record->PendingTimespan)) {
    record->ParamSource = 1;
  } else {
    record->ParamSource = 0;
    record->PendingSize = globals.size;
    record->PendingThreshold = globals.threshold;
    record->PendingTimespan = globals.time_span;
  }
  record->Percentage = 0.0f;
}

}  // namespace

int32_t LoadOneFileSetFromConfig(int32_t repository_index, int32_t arc_index,
                                 uint16_t repository_slot, const GlobalFileSetValues& globals,
                                 ChainPathIndex* paths) {
  FileSetRecord record;
  std::memset(&record, 0, sizeof(record));

  ArcList arc;
  if (GetArcList(MARN_SOURCE_CONFIG, repository_index, arc_index, &arc) != 0) {
    return KHA_CONFIG_FILESET_FAILED;
  }
  FixHistoryPath(arc.file_path);
  char converted[kPathFieldSize];
  ConvertPathForComparison(arc.file_path, converted);

  record.HistoryStatus = arc.history_status;
  CopyPathField(record.PendingFilePath, arc.file_path);
  record.StartTime = {arc.start_time.seconds, arc.start_time.microseconds};
  record.EndTime = {arc.end_time.seconds, arc.end_time.microseconds};
  record.PendingSize = arc.size;
  record.PendingThreshold = arc.threshold;
  record.PendingTimespan = arc.time_span;
  ApplyValueSource(&record, globals);

  if (const int16_t matched = paths->FindFirst(converted); matched != 0) {
    // Confirmed when it was marked by this load; otherwise (new, not
    // saved, or already confirmed by an earlier arc) it is not saved.
    const FileSetRecord* current = FileSetInTable(matched);
    const int32_t status = current != nullptr ? current->RecordStatus : 0;
    record.RecordStatus = status == KHA_STATUS_MARKED ? KHA_STATUS_ACTIVE : KHA_STATUS_NOT_SAVED;
    return UpdateOneFileSet(KHA_UPDATE_KEEP_IN_EFFECT, repository_slot,
                            static_cast<uint16_t>(matched), &record);
  }

  uint16_t file_set_number = 0;
  uint16_t file_set_slot = 0;
  if (const int32_t result = AddOneFileSet(repository_slot, &file_set_number, &file_set_slot);
      result != KHA_OK) {
    return result;
  }
  paths->NoteAppended(static_cast<int16_t>(file_set_slot), converted);
  record.RecordStatus = KHA_STATUS_NEW;
  return UpdateOneFileSet(KHA_UPDATE_KEEP_IN_EFFECT, repository_slot, file_set_slot, &record);
}

}  // namespace kha
