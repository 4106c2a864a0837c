// Finding a file set by its repository's number and its position in the
// chain. Positions count only the file sets in use.
#include <cstdint>

#include "kestihistadmin.h"
#include "region/region_view.h"
#include "tables/arguments.h"
#include "tables/chain.h"
#include "tables/file_set_table.h"
#include "tables/repository_table.h"

namespace kha {

int32_t SearchFileSetByNumber(uint16_t repository_number, uint16_t file_set_number,
                              uint16_t* file_set_slot) {
  if (HistAdminHeader() == nullptr) return KHA_NOT_MAPPED;
  if (file_set_slot == nullptr) return KHA_INVALID_POINTER;
  uint16_t repository_slot = 0;
  (void)SearchRepositoryByNumber(repository_number, &repository_slot);
  const RepositoryRecord* repository = RepositoryInTable(SlotArgument(repository_slot));
  // Both refusals leave the caller's output as it was.
  if (repository == nullptr) return KHA_REPOSITORY_NOT_FOUND;
  const int16_t wanted = FileSetNumberArgument(file_set_number);
  if (wanted > repository->NumberFS) return KHA_INVALID_FILESET_NUMBER;

  *file_set_slot = 0;
  int32_t position = 1;
  ForEachFileSetInChain(*repository, [&](int16_t slot, const FileSetRecord& file_set, int32_t) {
    if (file_set.SlotUsage != kSlotInUse) return true;  // passed over, not counted
    if (position == wanted) {
      *file_set_slot = static_cast<uint16_t>(slot);
      return false;
    }
    ++position;
    return true;
  });
  return KHA_OK;
}

}  // namespace kha
