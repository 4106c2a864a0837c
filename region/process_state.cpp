#include "region/process_state.h"

namespace kha {

// Nothing to run at exit: other libraries' exit handlers may still call in.
static_assert(std::is_trivially_destructible_v<ProcessState>);

constinit ProcessState g_histadmin_process;

std::mutex& LifecycleMutex() {
  // Never destroyed, for the same reason.
  static std::mutex* mutex = new std::mutex();
  return *mutex;
}

}  // namespace kha
