// The HistAdmin mutex. A failed wait leaves the caller working unlocked,
// as the interface has always promised never to report anything here; such
// a caller writes without the journal, which belongs to the holder
// (journal.h). A mutex abandoned by a dead owner counts as taken (the
// backend makes it usable again).
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
#include "region/process_state.h"
#include "region/slot_hints.h"

namespace kha {

void TakeHistAdminMutex() noexcept {
  try {
    auto* mutex = HistAdminProcess().mutex.load(std::memory_order_acquire);
    if (mutex == nullptr) return;
    // A failed wait, also on a mutex that can no longer be made usable,
    // is not taken: the caller works unlocked, as the interface promises.
    const bool taken = platform::ActivePlatform().LockMutex(mutex).ok();
    EnterHistAdminHold(taken);
    EnterJournalHold(taken);
  } catch (...) {
  }
}

void ReleaseHistAdminMutex() noexcept {
  try {
    if (auto* mutex = HistAdminProcess().mutex.load(std::memory_order_acquire)) {
      LeaveJournalHold();
      LeaveHistAdminHold();
      (void)platform::ActivePlatform().UnlockMutex(mutex);
    }
  } catch (...) {
  }
}

}  // namespace kha
