// Writing the tuning block and every repository and file set to be saved
// (status 1 or 3) back to config.dat and tune.dat. The library is driven
// through one fixed sequence: the tuning values, a fresh configuration
// sized for the repositories and their file sets, each repository followed
// by its arcs, and finally the write, which alone touches the files. The
// region is only read; the mutex is held throughout so that the files get
// one consistent picture of it.
#include <cstring>
#include <memory>
#include <new>

#include "historian/marnuser.h"
#include "kestihistadmin.h"
#include "region/header_access.h"
#include "region/journal.h"
#include "tables/repository_table.h"
#include "transfer/historian_lists.h"
#include "transfer/transfer.h"

namespace kha {

int32_t SaveToConfig() {
  TransferMark mark(TransferKind::kSaveToConfig);
  return mark.Ended([]() -> int32_t {
    TuningData tuning;
    std::memset(&tuning, 0, sizeof(tuning));
    if (const int32_t result = GetTuningData(&tuning); result != KHA_OK) return result;
    if (SaveTuningToMarn(tuning) != KHA_OK) return KHA_SAVE_TUNING_FAILED;
    if (const int32_t result = SaveRepositoriesToMarn(); result != KHA_OK) return result;
    if (marn_write_hist_config() != 0) return KHA_WRITE_CONFIG_FAILED;
    return KHA_OK;
  }());
}

int32_t SaveTuningToMarn(const TuningData& tuning) {
  return PutTuningList(TuningListOf(tuning)) == 0 ? KHA_OK : KHA_SAVE_TUNING_FAILED;
}

int32_t SaveRepositoriesToMarn() {
  if (marn_free_hist_config() != 0) return KHA_FREE_CONFIG_FAILED;

  // With nothing to save the library's configuration stays freed, and the
  // write that follows writes it so.
  const int16_t count = GetNumberOfRepositoriesToSave();
  if (count <= 0) return KHA_OK;
  const auto n = static_cast<std::size_t>(count);

  // Declared slots first, counts second: the counts are freed first.
  std::unique_ptr<uint16_t[]> slots(new (std::nothrow) uint16_t[n]);
  if (!slots) return KHA_NO_MEMORY;
  if (const int32_t result = ListRepositorySlotsToSave(count, slots.get()); result != KHA_OK) {
    return result;
  }
  std::unique_ptr<uint16_t[]> file_set_counts(new (std::nothrow) uint16_t[n]);
  if (!file_set_counts) return KHA_NO_MEMORY;
  if (const int32_t result = ListFileSetCountsToSave(count, file_set_counts.get());
      result != KHA_OK) {
    return result;
  }

  // The library takes the counts as 16-bit values; a file set count never
  // exceeds the 32767 slots of the table.
  static_assert(sizeof(int16_t) == sizeof(uint16_t));
  if (marn_init_hist_config(count, reinterpret_cast<const int16_t*>(file_set_counts.get())) != 0) {
    return KHA_INIT_CONFIG_FAILED;
  }

  int32_t result = KHA_OK;
  for (int32_t i = 0; i < count && result == KHA_OK; ++i) {
    result = SaveOneRepositoryToMarn(i, slots[static_cast<std::size_t>(i)],
                                     file_set_counts[static_cast<std::size_t>(i)]);
  }
  return result;
}

}  // namespace kha
