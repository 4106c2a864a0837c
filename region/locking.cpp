// The HistAdmin mutex. The outcome of a wait is not examined: a mutex
// abandoned by a dead owner counts as taken (the backend makes it usable
// again), and a failed wait leaves the caller working unlocked, as the
// interface has always promised never to report anything here.
#include "kestihistadmin.h"
#include "platform/platform.h"
#include "region/process_state.h"

extern "C" KESTIHISTADMIN_API void KHA_CALL LockHistAdminMutex(void) {
  try {
    if (auto* mutex = kha::HistAdminProcess().mutex.load(std::memory_order_acquire)) {
      (void)kha::platform::ActivePlatform().LockMutex(mutex);
    }
  } catch (...) {
  }
}

extern "C" KESTIHISTADMIN_API void KHA_CALL UnlockHistAdminMutex(void) {
  try {
    if (auto* mutex = kha::HistAdminProcess().mutex.load(std::memory_order_acquire)) {
      (void)kha::platform::ActivePlatform().UnlockMutex(mutex);
    }
  } catch (...) {
  }
}
