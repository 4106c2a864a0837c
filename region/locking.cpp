// The HistAdmin mutex. A mutex abandoned by a dead owner counts as taken
// (the backend makes it usable again). A failed wait is never a silent
// run without the mutex: the thread then finds no region until it has let
// go of that hold (every operation returns -2004), and set-up and attach
// refuse.
//
// Every fresh take of this thread looks at the undo journal, whether the
// OS reported an abandoned mutex or not: an open journal is the work of a
// holder that died (a process, or a thread that ended holding the mutex),
// and is rolled back before the caller goes on (EnterJournalHold). A
// closed journal costs one load.
#include "region/locking.h"

#include "kestihistadmin.h"
#include "platform/platform.h"
#include "region/journal.h"
#include "region/mutex_calls.h"
#include "region/os_reason.h"
#include "region/process_state.h"
#include "region/slot_hints.h"

namespace kha {

bool TakeHistAdminMutex() noexcept {
  try {
    ProcessState& process = HistAdminProcess();
    const MutexCall call;
    auto* mutex = process.mutex.load(std::memory_order_seq_cst);
    if (mutex == nullptr) return true;
    // A failed wait is never a run without the mutex: the hold is refused.
    const platform::OsResult<platform::LockOutcome> outcome =
        platform::ActivePlatform().LockMutex(mutex);
    if (!outcome.ok()) (void)ReportOsFailure(outcome.failure());
    const bool taken = outcome.ok();
    EnterHistAdminHold(taken);
    EnterJournalHold(taken);
    return taken;
  } catch (...) {
    return false;
  }
}

void ReleaseHistAdminMutex() noexcept {
  try {
    ProcessState& process = HistAdminProcess();
    const MutexCall call;
    // This thread's record of its holds goes also when another thread has
    // closed the handle meanwhile.
    LeaveJournalHold();
    LeaveHistAdminHold();
    if (auto* mutex = process.mutex.load(std::memory_order_seq_cst)) {
      (void)platform::ActivePlatform().UnlockMutex(mutex);
    }
  } catch (...) {
  }
}

}  // namespace kha
