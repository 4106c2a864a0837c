// Putting the tables back in order after a process died holding the
// HistAdmin mutex. Every change to the region is a sequence of plain
// writes, so an owner killed in the middle of one leaves it half written:
// a count off by one, a chain one link short or long, a file set in use
// that no chain reaches, a freed slot not yet cleared. The next process to
// take the mutex runs this repair before it does anything else.
#pragma once

#include <cstdint>

namespace kha {

// Called with the HistAdmin mutex held. Rebuilds what can be rebuilt from
// the records themselves, touching nothing a consistent region would not
// already hold:
// - every chain of a repository in use keeps the file sets reached from
//   FirstFS that are in use, belong to it (ReposIndex) and were not met
//   before; the chain ends at the first link that breaks a rule, and
//   NumberFS and LastFS are set to what remains;
// - a file set in use that no chain keeps is freed (an add that never
//   finished, or a delete that did not get to free it);
// - freed slots are cleared as a delete clears them; Index is set back to
//   the slot's own number where a carved-out slot must hold it;
// - NumberRepos and NumberFileSets are counted anew.
// Returns the number of fields it changed (0 for a consistent region, or
// when no region is mapped in this process) and flushes when it changed any.
int32_t RepairHistAdminRegion();

}  // namespace kha
