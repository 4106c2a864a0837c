// A child made with fork() that calls into the region while its parent
// holds the HistAdmin mutex, and tells the parent through a pipe when its
// call has returned: a child that holds nothing of its parent's must still
// be waiting while the parent holds on. POSIX only.
#pragma once

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

#include "kestihistadmin.h"

namespace kha::test {

class ForkedProbe {
 public:
  // Forks. The child runs `first` (what it may try with the inherited
  // state), reports that it is about to probe, calls
  // GetKestiHistAdminHeader, reports that the call returned and ends with
  // 0 when it returned KHA_OK.
  explicit ForkedProbe(const std::function<void()>& first = [] {}) {
    if (::pipe(pipe_) != 0) return;
    pid_ = ::fork();
    if (pid_ != 0) return;
    ::close(pipe_[0]);
    first();
    Report('a');
    uint16_t repos = 0;
    const int32_t result = GetKestiHistAdminHeader(nullptr, nullptr, &repos, nullptr, nullptr);
    Report('b');
    ::_exit(result == KHA_OK ? 0 : 1);
  }
  ~ForkedProbe() {
    if (pid_ > 0 && !waited_) {
      ::kill(pid_, SIGKILL);
      Wait();
    }
    if (pipe_[0] >= 0) ::close(pipe_[0]);
    if (pipe_[1] >= 0) ::close(pipe_[1]);
  }
  ForkedProbe(const ForkedProbe&) = delete;
  ForkedProbe& operator=(const ForkedProbe&) = delete;

  bool Started() const { return pid_ > 0; }
  // True when the child has started its probe and the probe is still
  // waiting `while_ms` later.
  bool StillWaitingAfter(int while_ms) { return Next(10000) == 'a' && Next(while_ms) == 0; }
  // True when the probe returns within `within_ms` and the child ends with 0.
  bool Returns(int within_ms) { return Next(within_ms) == 'b' && Wait() == 0; }
  // True when the probe returns within `within_ms` with a failure.
  bool IsRefused(int within_ms) { return Next(within_ms) == 'b' && Wait() == 1; }

 private:
  void Report(char what) {
    if (::write(pipe_[1], &what, 1) != 1) ::_exit(2);
  }
  // The next byte from the child, 0 when none came within `ms`.
  char Next(int ms) {
    if (pipe_[1] >= 0) {
      ::close(pipe_[1]);
      pipe_[1] = -1;
    }
    pollfd ready{pipe_[0], POLLIN, 0};
    if (::poll(&ready, 1, ms) != 1) return 0;
    char what = 0;
    return ::read(pipe_[0], &what, 1) == 1 ? what : 0;
  }
  int Wait() {
    int status = 0;
    waited_ = true;
    if (::waitpid(pid_, &status, 0) != pid_) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  int pipe_[2] = {-1, -1};
  pid_t pid_ = -1;
  bool waited_ = false;
};

}  // namespace kha::test
