// The load or save that the undo journal beside the region records as
// interrupted: a process died while it ran one, the operations it had
// finished stay, and running it again completes it. The journal keeps the
// record until a run of the same kind returns 0.
#pragma once

#include <string>

namespace kha::histadmin {

// "load running", "load config" or "save" (the histadmin command that runs
// it again); empty when none is recorded or the journal cannot be read.
// Called with the region locked, so that no load or save runs meanwhile.
std::string InterruptedTransfer();

}  // namespace kha::histadmin
