#include "region/fork_child.h"

#include <mutex>

#include "platform/platform.h"
#include "region/journal.h"
#include "region/process_state.h"
#include "region/slot_hints.h"

namespace kha {
namespace {

// The lifecycle mutex is held across the fork, so that the child never
// inherits it locked by a thread that the child does not have.
void BeforeFork() { LifecycleMutex().lock(); }
void AfterForkInParent() { LifecycleMutex().unlock(); }
void AfterForkInChild() {
  LifecycleMutex().unlock();
  ForgetThisThreadsHolds();
  ForgetJournalHoldsOfThisThread();
}

}  // namespace

void ClearParentsHoldsInForkedChildren() {
  static std::once_flag once;
  std::call_once(once,
                 [] { platform::RunAroundFork(BeforeFork, AfterForkInParent, AfterForkInChild); });
}

}  // namespace kha
