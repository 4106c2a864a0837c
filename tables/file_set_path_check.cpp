// Checking a proposed path against the file sets of one repository. A file
// set whose RecordStatus is not 0 holds its paths (FilePath and
// PendingFilePath) against every other file set; one with RecordStatus 0
// does not, and may be named as the file set to take the path.
//
// With no file set left out, the first file set that holds the path
// decides: -2039 when its RecordStatus is not 0, that file set as the
// answer when it is 0. With a file set left out, a file set with
// RecordStatus 0 that holds the path is passed over. When nothing decides,
// the answer is the first file set with RecordStatus 0 that does not hold
// the path, or none.
#include <cstdint>

#include "kestihistadmin.h"
#include "region/region_view.h"
#include "tables/arguments.h"
#include "tables/chain.h"
#include "tables/file_set_table.h"
#include "tables/name_compare.h"

namespace kha {

int32_t CheckAllFileSetsForAFilePath(uint16_t repository_slot, uint16_t skip_slot, const char* path,
                                     uint16_t* file_set_slot, uint16_t* file_set_number) {
  if (HistAdminHeader() == nullptr) return KHA_NOT_MAPPED;
  if (file_set_slot == nullptr || file_set_number == nullptr || path == nullptr) {
    return KHA_INVALID_POINTER;
  }
  *file_set_slot = 0;
  *file_set_number = 0;
  const RepositoryRecord* repository = RepositoryInTable(SlotArgument(repository_slot));
  if (repository == nullptr) return KHA_REPOSITORY_NOT_FOUND;
  if (repository->NumberFS == 0) return KHA_OK;

  const int16_t left_out = SlotArgument(skip_slot);
  int32_t result = KHA_OK;
  int32_t number = 1;  // counts the file sets in use only
  int16_t candidate_slot = 0;
  int32_t candidate_number = 0;
  ForEachFileSetInChain(*repository, [&](int16_t slot, const FileSetRecord& file_set, int32_t) {
    if (file_set.SlotUsage != kSlotInUse) return true;
    if (slot != left_out) {
      const bool holds_path =
          PathEquals(path, file_set.FilePath) || PathEquals(path, file_set.PendingFilePath);
      const bool not_saved = file_set.RecordStatus == KHA_STATUS_NOT_SAVED;
      if (holds_path && !not_saved) {
        result = KHA_FILE_PATH_IN_USE;
        return false;
      }
      if (holds_path && left_out == 0) {
        candidate_slot = slot;
        candidate_number = number;
        return false;
      }
      if (!holds_path && not_saved && candidate_slot == 0) {
        candidate_slot = slot;
        candidate_number = number;
      }
    }
    ++number;
    return true;
  });
  if (result != KHA_OK) return result;  // the outputs stay 0
  *file_set_slot = static_cast<uint16_t>(candidate_slot);
  *file_set_number = static_cast<uint16_t>(candidate_number);
  return KHA_OK;
}

}  // namespace kha
