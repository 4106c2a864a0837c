// Deleting one file set of a repository by its position in the chain.
// The chain closes up: later file sets move up one number. The freed slot
// keeps its status, paths and times; FSHighWater stays.
#include <cstdint>

#include "kestihistadmin.h"
#include "region/journal.h"
#include "region/lifecycle.h"
#include "region/region_view.h"
#include "tables/arguments.h"
#include "tables/chain.h"
#include "tables/counts.h"
#include "tables/file_set_slot.h"
#include "tables/file_set_table.h"

namespace kha {

int32_t DeleteOneFileSetForOneRepository(uint16_t repository_slot, uint16_t file_set_number) {
  RegionHeader* header = HistAdminHeader();
  if (header == nullptr) return KHA_NOT_MAPPED;
  RepositoryRecord* repository = RepositoryInTable(SlotArgument(repository_slot));
  if (repository == nullptr) return KHA_REPOSITORY_NOT_FOUND;
  const int16_t doomed = FileSetNumberArgument(file_set_number);
  if (doomed > repository->NumberFS) return KHA_INVALID_FILESET_NUMBER;

  // Number 0 (or below) deletes nothing; the flush still runs.
  if (doomed < 1) return FlushHistAdminView();
  const JournalUnit unit;
  FileSetRecord* previous = nullptr;
  int16_t previous_slot = 0;
  ForEachFileSetInChain(*repository, [&](int16_t slot, FileSetRecord& file_set, int32_t position) {
    if (position < doomed) {
      previous = &file_set;
      previous_slot = slot;
      return true;
    }
    // Chain surgery only stores slot numbers, it never follows one: the
    // file sets touched are this one and the one visited before it.
    if (!KHA_SAVE_FIELDS_FOR_UNDO(*repository, NumberFS, LastFS) ||
        (previous != nullptr && !KHA_SAVE_FIELDS_FOR_UNDO(*previous, NextIndex, NextIndex))) {
      return false;
    }
    if (position == 1) {
      repository->FirstFS = file_set.NextIndex;
      if (repository->FirstFS == 0) repository->LastFS = 0;
    } else if (position == repository->NumberFS) {
      repository->LastFS = previous_slot;
      previous->NextIndex = 0;
    } else {
      previous->NextIndex = file_set.NextIndex;
    }
    if (!FreeFileSetSlot(*header, file_set)) return false;
    repository->NumberFS = ChainLengthLowered(repository->NumberFS);
    // An emptied chain names no file set, whatever a damaged NextIndex said.
    if (repository->NumberFS == 0) {
      repository->FirstFS = 0;
      repository->LastFS = 0;
    }
    return false;
  });
  return unit.Result(FlushHistAdminView());
}

}  // namespace kha
