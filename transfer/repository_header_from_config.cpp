// One repository's settings from the configuration files. They go into the
// pending values; the values in effect stay as the region holds them, and
// a path in effect is replaced only by one that names the same place.
#include <cstring>

#include "historian/marnuser.h"
#include "kestihistadmin.h"
#include "tables/name_compare.h"
#include "tables/repository_table.h"
#include "transfer/historian_lists.h"
#include "transfer/historian_paths.h"
#include "transfer/repository_settings.h"
#include "transfer/transfer.h"

namespace kha {
namespace {

// The path in effect after the load: the one read from the files (whose
// converted form is `read_local`) when it names the same place as the
// current one, else the current one.
void ChoosePathInEffect(const char* read, const char* read_local, const char* current_field,
                        char* chosen_field) {
  char current[kPathFieldSize];
  CopyPathField(current, current_field);
  char current_local[kPathFieldSize];
  ConvertPathForComparison(current, current_local);
  CopyPathField(chosen_field, PathEquals(read_local, current_local) ? read : current);
}

}  // namespace

int32_t LoadRepositoryHeaderFromConfig(int32_t repository_index, uint16_t repository_slot,
                                       GlobalFileSetValues* globals) {
  RepositoryRecord record;
  std::memset(&record, 0, sizeof(record));
  RepositoryRecord current;
  std::memset(&current, 0, sizeof(current));
  (void)GetOneRepository(repository_slot, &current);

  // Confirmed when it was marked by this load, new or changed otherwise
  // (including a repository that an earlier listing of the same name in
  // this load has already confirmed).
  record.Status = current.Status == KHA_STATUS_MARKED ? KHA_STATUS_ACTIVE : KHA_STATUS_NEW;

  RepositoryList list;
  if (GetRepositoryList(MARN_SOURCE_CONFIG, repository_index, &list) != 0) {
    return KHA_CONFIG_REPOSITORY_HEADER_FAILED;
  }
  // Each path fixed and converted in turn, as the historian's libraries
  // see the calls; the converted forms serve only for the comparisons.
  char file_local[kPathFieldSize];
  char backup_local[kPathFieldSize];
  FixHistoryPath(list.file_path);
  ConvertPathForComparison(list.file_path, file_local);
  FixHistoryPath(list.backup_file_path);
  ConvertPathForComparison(list.backup_file_path, backup_local);
  StoreSettingsAsPending(list, &record);  // the file-set count is not stored by the update
  ChoosePathInEffect(list.file_path, file_local, current.FilePath, record.FilePath);
  ChoosePathInEffect(list.backup_file_path, backup_local, current.BackupFilePath,
                     record.BackupFilePath);

  *globals = GlobalFileSetValuesOf(list);
  return UpdateOneRepositoryHeader(KHA_UPDATE_KEEP_IN_EFFECT, repository_slot, &record);
}

}  // namespace kha
