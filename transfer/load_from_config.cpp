// Merging config.dat and tune.dat into the region. Unlike the load from the
// running historian it keeps the tables: repositories are matched by name,
// file sets by path, what the files say goes into the pending values, and
// the status fields record what was confirmed (1), what is new or changed
// (3), and what the files no longer name (2). The mutex is held from the
// library's read of the files to the end, so the read and the merge are
// one step for every other process.
#include <cstdint>

#include "historian/marnuser.h"
#include "kestihistadmin.h"
#include "region/journal.h"
#include "region/slot_hints.h"
#include "tables/file_set_table.h"
#include "tables/repository_table.h"
#include "transfer/chain_path_index.h"
#include "transfer/historian_paths.h"
#include "transfer/historian_repositories.h"
#include "transfer/transfer.h"

namespace kha {

int32_t LoadFromConfig() {
  TransferMark mark(TransferKind::kLoadFromConfig);
  // The whole load is one hold and writes the region only through the
  // library: its adds may search for free slots from where the last ended.
  const FreeSlotHintScope hints;
  return mark.Ended([]() -> int32_t {
    if (marn_read_hist_config() != 0) return KHA_CONFIG_READ_FAILED;
    if (const int32_t result = LoadTuningFromMarn(); result != KHA_OK) return result;
    return LoadRepositoriesFromConfig();
  }());
}

int32_t LoadRepositoriesFromConfig() {
  // Every confirmed repository (1) becomes 2 until the files name it
  // again; a repository marked 0 loses its file sets.
  (void)MarkRepositoriesForConfigLoad();

  return ForEachHistorianRepository(MARN_SOURCE_CONFIG, LoadOneRepositoryFromConfig)
             ? KHA_OK
             : KHA_CONFIG_REPOSITORY_COUNT_FAILED;
}

int32_t LoadOneRepositoryFromConfig(int32_t repository_index, int16_t arc_count) {
  char name[kNameFieldSize];
  if (const int32_t result = ReadRepositoryName(MARN_SOURCE_CONFIG, repository_index, name,
                                                KHA_CONFIG_REPOSITORY_NAME_FAILED);
      result != KHA_OK) {
    return result;
  }

  uint16_t slot = 0;
  if (const int32_t result = FindOrAddRepository(name, KHA_STATUS_NEW, &slot); result != KHA_OK) {
    return result;
  }

  GlobalFileSetValues globals;
  if (const int32_t result = LoadRepositoryHeaderFromConfig(repository_index, slot, &globals);
      result != KHA_OK) {
    return result;
  }

  // Every confirmed file set (1) becomes 2 until an arc names it again.
  if (const int32_t result = MarkAllFileSetsForOneRepository(slot); result != KHA_OK) {
    return result;
  }

  ChainPathIndex paths(slot);
  for (int32_t j = 0; j < arc_count; ++j) {
    if (const int32_t result = LoadOneFileSetFromConfig(repository_index, j, slot, globals, &paths);
        result != KHA_OK) {
      return result;
    }
  }
  return KHA_OK;
}

}  // namespace kha
