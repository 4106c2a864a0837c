#include "region/mutex_calls.h"

#include <chrono>
#include <mutex>
#include <thread>

#include "platform/platform.h"

namespace kha {
namespace detail {

constinit thread_local ThreadMutexCalls t_mutex_calls
    __attribute__((tls_model("initial-exec"))) = {};
constinit std::atomic<bool> g_fenced_mutex_calls{false};

}  // namespace detail

namespace {

// The threads that have ever marked themselves and have not ended. Never
// destroyed: exit handlers and the child of a fork may still reach it.
std::mutex& ListMutex() {
  static std::mutex* mutex = new std::mutex();
  return *mutex;
}
constinit ThreadMutexCalls* g_first = nullptr;

void Unlist(ThreadMutexCalls& calls) {
  if (calls.previous != nullptr) calls.previous->next = calls.next;
  if (calls.next != nullptr) calls.next->previous = calls.previous;
  if (g_first == &calls) g_first = calls.next;
  calls.previous = calls.next = nullptr;
  calls.listed = false;
}

// Takes the ending thread out of the list.
struct ListedUntilThreadEnds {
  ~ListedUntilThreadEnds() {
    std::lock_guard<std::mutex> lock(ListMutex());
    Unlist(detail::t_mutex_calls);
  }
};

bool OtherThreadInside() {
  std::lock_guard<std::mutex> lock(ListMutex());
  for (ThreadMutexCalls* calls = g_first; calls != nullptr; calls = calls->next) {
    if (calls != &detail::t_mutex_calls && calls->inside.load(std::memory_order_acquire) != 0) {
      return true;
    }
  }
  return false;
}

}  // namespace

void detail::ListThisThread() noexcept {
  try {
    static thread_local ListedUntilThreadEnds until_the_end;
    (void)&until_the_end;
    std::lock_guard<std::mutex> lock(ListMutex());
    ThreadMutexCalls& calls = t_mutex_calls;
    calls.previous = nullptr;
    calls.next = g_first;
    if (g_first != nullptr) g_first->previous = &calls;
    g_first = &calls;
    calls.listed = true;
  } catch (...) {
    // Not listed: the closer cannot see this thread's marks, so it is
    // fenced from now on, and the next call tries again.
    detail::g_fenced_mutex_calls.store(true);
  }
}

void PrepareMutexCallMarks() noexcept {
  static std::once_flag once;
  try {
    std::call_once(once, [] {
      if (!platform::StartProcessBarriers()) detail::g_fenced_mutex_calls.store(true);
      platform::RunAroundFork([] { ListMutex().lock(); }, [] { ListMutex().unlock(); },
                              [] {
                                ListMutex().unlock();
                                ForgetOtherThreadsMutexCalls();
                              });
    });
  } catch (...) {
    detail::g_fenced_mutex_calls.store(true);
  }
}

bool WaitForOtherThreadsMutexCalls() noexcept {
  try {
    if (!detail::g_fenced_mutex_calls.load() && !platform::ProcessBarrier()) return false;
    while (OtherThreadInside()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return true;
  } catch (...) {
    return false;
  }
}

void ForgetOtherThreadsMutexCalls() noexcept {
  std::lock_guard<std::mutex> lock(ListMutex());
  ThreadMutexCalls& self = detail::t_mutex_calls;
  const bool listed = self.listed;
  while (g_first != nullptr) Unlist(*g_first);
  if (listed) {
    self.previous = nullptr;
    self.next = nullptr;
    g_first = &self;
    self.listed = true;
  }
}

}  // namespace kha
