// A child of fork is a process of its own: it has taken nothing, and
// what it inherited of its parent's hold of the HistAdmin mutex (the
// forking thread's depth, the process-local lifecycle mutex) is cleared
// in it before it runs on.
#pragma once

namespace kha {

// Registers the handlers once per process; set-up and attach call it
// before they obtain the mutex handle.
void ClearParentsHoldsInForkedChildren();

}  // namespace kha
