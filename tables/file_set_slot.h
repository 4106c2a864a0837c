// Freeing a file-set slot, the one way both the delete of one file set and
// the release of a whole chain do it.
#pragma once

#include "region/journal.h"
#include "region/layout.h"
#include "region/slot_hints.h"
#include "tables/counts.h"

namespace kha {

// The slot becomes free: SlotUsage, Index, ReposIndex and NextIndex 0; its
// other fields keep their contents and FSHighWater stays. NumberFileSets
// is lowered only for a slot that was in use, so a damaged chain that
// names a slot twice cannot lower it twice. Only the fields it writes go
// into the journal: a chain may hold every file set of the region. False
// when the unit was refused (nothing is written then).
[[nodiscard]] inline bool FreeFileSetSlot(RegionHeader& header, FileSetRecord& file_set) {
  if (!SaveHeaderForUndo(header) || !KHA_SAVE_FIELDS_FOR_UNDO(file_set, SlotUsage, NextIndex)) {
    return false;
  }
  if (file_set.SlotUsage == kSlotInUse) header.NumberFileSets = CountLowered(header.NumberFileSets);
  file_set.SlotUsage = kSlotFree;
  ForgetFreeSlotHints();
  file_set.Index = 0;
  file_set.ReposIndex = 0;
  file_set.NextIndex = 0;
  return true;
}

}  // namespace kha
