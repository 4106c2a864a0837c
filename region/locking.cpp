// The HistAdmin mutex. A failed wait leaves the caller working unlocked,
// as the interface has always promised never to report anything here. A
// mutex abandoned by a dead owner counts as taken (the backend makes it
// usable again); its owner may have died in the middle of a change, so the
// taker repairs the tables first. This is the one place where that
// happens, for every backend's form of "owner died".
#include "region/locking.h"

#include "kestihistadmin.h"
#include "platform/platform.h"
#include "region/process_state.h"
#include "region/slot_hints.h"
#include "tables/region_repair.h"

namespace kha {

bool TakeHistAdminMutex() noexcept {
  try {
    auto* mutex = HistAdminProcess().mutex.load(std::memory_order_acquire);
    if (mutex == nullptr) return false;
    const platform::LockOutcome outcome = platform::ActivePlatform().LockMutex(mutex);
    EnterHistAdminHold(outcome != platform::LockOutcome::kFailed);
    if (outcome != platform::LockOutcome::kAbandoned) return false;
    // Without a view in this process (set-up and attach take the mutex
    // before they map) there is nothing to repair yet; they repair once
    // they have mapped it.
    (void)RepairHistAdminRegion();
    return true;
  } catch (...) {
    return false;
  }
}

void ReleaseHistAdminMutex() noexcept {
  try {
    if (auto* mutex = HistAdminProcess().mutex.load(std::memory_order_acquire)) {
      LeaveHistAdminHold();
      (void)platform::ActivePlatform().UnlockMutex(mutex);
    }
  } catch (...) {
  }
}

}  // namespace kha
