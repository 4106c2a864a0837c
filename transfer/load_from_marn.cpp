// Rebuilding the region's tables from the running historian's
// configuration. The mutex is held for the whole load, library calls
// included, so no other process sees the tables half emptied or half
// filled. A failure inside one repository ends only that repository.
#include <cstdint>

#include "historian/marnuser.h"
#include "kestihistadmin.h"
#include "region/header_access.h"
#include "region/journal.h"
#include "region/slot_hints.h"
#include "tables/file_set_table.h"
#include "tables/repository_table.h"
#include "transfer/historian_paths.h"
#include "transfer/historian_repositories.h"
#include "transfer/transfer.h"

namespace kha {

int32_t LoadFromMarn() {
  // Each step below is a change of its own; a holder that dies between
  // two leaves the region whole after the last one, and the mark tells
  // the next taker that the load did not finish.
  TransferMark mark(TransferKind::kLoadFromMarn);
  // The whole load is one hold and writes the region only through the
  // library: its adds may search for free slots from where the last ended.
  const FreeSlotHintScope hints;
  return mark.Ended([]() -> int32_t {
    if (const int32_t result = LoadTuningFromMarn(); result != KHA_OK) return result;

    // Both tables are emptied at once by setting the header's counts back;
    // the old records stay in the region's bytes until slots are reused.
    uint32_t region_size = 0;
    if (const int32_t result = GetHeader(&region_size, nullptr, nullptr, nullptr, nullptr);
        result != KHA_OK) {
      return result;
    }
    if (const int32_t result = PutHeader(region_size, 0, 0, 0, 0); result != KHA_OK) {
      return result;
    }
    return LoadRepositoriesFromMarn();
  }());
}

int32_t LoadRepositoriesFromMarn() {
  return ForEachHistorianRepository(MARN_SOURCE_RUNNING, LoadOneRepositoryFromMarn)
             ? KHA_OK
             : KHA_MARN_REPOSITORY_COUNT_FAILED;
}

int32_t LoadOneRepositoryFromMarn(int32_t repository_index, int16_t arc_count) {
  char name[kNameFieldSize];
  if (const int32_t result = ReadRepositoryName(MARN_SOURCE_RUNNING, repository_index, name,
                                                KHA_MARN_REPOSITORY_NAME_FAILED);
      result != KHA_OK) {
    return result;
  }

  // A name the historian lists twice gives one repository: the second
  // listing updates its header again and appends to its chain.
  uint16_t slot = 0;
  if (const int32_t result = FindOrAddRepository(name, KHA_STATUS_ACTIVE, &slot);
      result != KHA_OK) {
    return result;
  }

  GlobalFileSetValues globals;
  if (const int32_t result = LoadRepositoryHeaderFromMarn(repository_index, slot, &globals);
      result != KHA_OK) {
    return result;
  }

  for (int32_t j = 0; j < arc_count; ++j) {
    uint16_t file_set_number = 0;
    uint16_t file_set_slot = 0;
    if (const int32_t result = AddOneFileSet(slot, &file_set_number, &file_set_slot);
        result != KHA_OK) {
      return result;
    }
    if (const int32_t result =
            LoadOneFileSetFromMarn(repository_index, j, slot, file_set_slot, globals);
        result != KHA_OK) {
      return result;
    }
  }
  return KHA_OK;
}

}  // namespace kha
