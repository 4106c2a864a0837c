// One repository handed to the library for the save: its header, then its
// file sets to be saved, in chain order, numbered 0, 1, ... without gaps.
#include <cstring>

#include "historian/marnuser.h"
#include "kestihistadmin.h"
#include "tables/chain.h"
#include "tables/file_set_table.h"
#include "tables/repository_table.h"
#include "tables/status.h"
#include "transfer/historian_lists.h"
#include "transfer/historian_paths.h"
#include "transfer/repository_settings.h"
#include "transfer/transfer.h"

namespace kha {

int32_t SaveOneRepositoryToMarn(int32_t save_index, uint16_t repository_slot,
                                uint16_t file_set_count) {
  if (const int32_t result =
          SaveRepositoryHeaderToMarn(save_index, repository_slot, file_set_count);
      result != KHA_OK) {
    return result;
  }

  RepositoryRecord repository;
  std::memset(&repository, 0, sizeof(repository));
  (void)GetOneRepository(repository_slot, &repository);

  // The library was told `file_set_count` arcs for this repository: no arc
  // index at or beyond it is ever passed.
  int32_t arc_index = 0;
  int32_t result = KHA_OK;
  ForEachFileSetInChain(repository, [&](int16_t slot, const FileSetRecord&, int32_t) {
    if (arc_index >= file_set_count) return false;
    FileSetRecord file_set;
    std::memset(&file_set, 0, sizeof(file_set));
    result = GetOneFileSet(static_cast<uint16_t>(slot), &file_set);
    if (result != KHA_OK) return false;
    if (IsFileSetToBeSaved(file_set)) {
      result = SaveOneFileSetToMarn(save_index, static_cast<uint16_t>(slot), arc_index);
      if (result != KHA_OK) return false;
      ++arc_index;
    }
    return arc_index < file_set_count;
  });
  return result;
}

int32_t SaveRepositoryHeaderToMarn(int32_t save_index, uint16_t repository_slot,
                                   uint16_t file_set_count) {
  RepositoryRecord repository;
  std::memset(&repository, 0, sizeof(repository));
  (void)GetOneRepository(repository_slot, &repository);

  char name[kNameFieldSize];
  std::memcpy(name, repository.RepositoryName, sizeof(name));
  name[kNameFieldSize - 1] = '\0';

  const RepositoryList list = PendingSettingsOf(repository, static_cast<int16_t>(file_set_count));
  return PutRepositoryList(save_index, name, list) == 0 ? KHA_OK : KHA_SAVE_REPOSITORY_FAILED;
}

int32_t SaveOneFileSetToMarn(int32_t save_index, uint16_t file_set_slot, int32_t arc_index) {
  FileSetRecord file_set;
  std::memset(&file_set, 0, sizeof(file_set));
  (void)GetOneFileSet(file_set_slot, &file_set);

  ArcList arc;
  arc.history_status = file_set.HistoryStatus;
  CopyPathField(arc.file_path, file_set.PendingFilePath);
  arc.start_time = {file_set.StartTime.Seconds, file_set.StartTime.Microseconds};
  arc.end_time = {file_set.EndTime.Seconds, file_set.EndTime.Microseconds};
  if (file_set.ParamSource == 0) {
    // A file set that takes its repository's defaults is saved with these
    // markers instead of values of its own.
    arc.size = -1;
    arc.threshold = -1.0f;
    arc.time_span = -1;
  } else {
    arc.size = file_set.PendingSize;
    arc.threshold = file_set.PendingThreshold;
    arc.time_span = file_set.PendingTimespan;
  }
  return PutArcList(save_index, arc_index, arc) == 0 ? KHA_OK : KHA_SAVE_FILESET_FAILED;
}

}  // namespace kha
