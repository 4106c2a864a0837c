// Adding a file set at the end of a repository's chain, in the lowest free
// file-set slot of the region (or a newly carved one). Only the slot and
// chain fields and RecordStatus are written: the record keeps whatever the
// slot held until the caller's update.
#include <cstdint>

#include "kestihistadmin.h"
#include "region/journal.h"
#include "region/lifecycle.h"
#include "region/region_view.h"
#include "tables/arguments.h"
#include "tables/counts.h"
#include "tables/file_set_table.h"

namespace kha {

int32_t AddOneFileSet(uint16_t repository_slot, uint16_t* file_set_number,
                      uint16_t* file_set_slot) {
  RegionHeader* header = HistAdminHeader();
  if (header == nullptr) return KHA_NOT_MAPPED;
  if (file_set_number == nullptr || file_set_slot == nullptr) return KHA_INVALID_POINTER;
  *file_set_number = 0;
  *file_set_slot = 0;
  const int16_t owner = SlotArgument(repository_slot);
  RepositoryRecord* repository = RepositoryInTable(owner);
  // A file set added to a free repository slot would be lost for good:
  // the next add of a repository there starts an empty chain.
  if (repository == nullptr || repository->SlotUsage != kSlotInUse) {
    return KHA_REPOSITORY_NOT_FOUND;
  }

  const JournalUnit unit;
  int16_t slot = 0;
  if (const int32_t result = FindFreeFileSetSlot(&slot); result != KHA_OK) return result;
  FileSetRecord* file_set = FileSetInTable(slot);
  if (file_set == nullptr) return KHA_NO_SPACE;
  FileSetRecord* last = repository->FirstFS == 0 || repository->LastFS == slot
                            ? nullptr
                            : FileSetInTable(repository->LastFS);
  if (!SaveHeaderForUndo(*header) || !SaveForUndo(*file_set) ||
      !KHA_SAVE_FIELDS_FOR_UNDO(*repository, NumberFS, LastFS) ||
      (last != nullptr && !KHA_SAVE_FIELDS_FOR_UNDO(*last, NextIndex, NextIndex))) {
    return kUnitRefused;
  }

  header->NumberFileSets = CountRaised(header->NumberFileSets);
  file_set->RecordStatus = KHA_STATUS_ACTIVE;
  file_set->SlotUsage = kSlotInUse;
  file_set->Index = slot;
  file_set->ReposIndex = owner;
  file_set->NextIndex = 0;
  *file_set_slot = static_cast<uint16_t>(slot);

  repository->NumberFS = ChainLengthRaised(repository->NumberFS);
  *file_set_number = static_cast<uint16_t>(repository->NumberFS);
  if (repository->FirstFS == 0) {
    repository->FirstFS = slot;
  } else if (last != nullptr) {
    // A LastFS that names no slot of the table (or the new one) is not
    // followed; the new file set still becomes the last.
    last->NextIndex = slot;
  }
  repository->LastFS = slot;
  return FlushHistAdminView();
}

}  // namespace kha
