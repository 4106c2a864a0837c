// Bounds a test step that would hang forever if the code under test were
// wrong (a lock that is never released, a thread that never returns): the
// whole test process fails with a message instead of hanging. This is no
// timing assertion; the bound is far above any honest run.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace kha::test {

inline constexpr std::chrono::seconds kHangBound{60};

class Watchdog {
 public:
  explicit Watchdog(const char* what, std::chrono::seconds bound = kHangBound)
      : thread_([this, what, bound] {
          std::unique_lock<std::mutex> lock(mutex_);
          if (!done_.wait_for(lock, bound, [this] { return finished_; })) {
            std::fprintf(stderr, "watchdog: %s did not finish within %lld s\n", what,
                         static_cast<long long>(bound.count()));
            std::fflush(stderr);
            std::_Exit(97);
          }
        }) {}
  ~Watchdog() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      finished_ = true;
    }
    done_.notify_all();
    thread_.join();
  }
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

 private:
  std::mutex mutex_;
  std::condition_variable done_;
  bool finished_ = false;
  std::thread thread_;
};

}  // namespace kha::test
