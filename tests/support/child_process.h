// Cross-process tests re-run their own test binary as a child with
// `--kha-child=ROLE [ARGS...]`. A test binary registers its roles with
// KHA_CHILD_ROLE; the child runs the role's function and exits with its
// result instead of running the tests.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace kha::test {

using ChildRole = std::function<int(const std::vector<std::string>& args)>;

// Registers `role` under `name`; used through KHA_CHILD_ROLE.
bool RegisterChildRole(const std::string& name, ChildRole role);

// In main: runs the role named on the command line; -1 when none is.
int RunChildRoleIfAsked(int argc, char** argv);

// A child process running a role of this same binary.
class Child {
 public:
  Child(const std::string& role, const std::vector<std::string>& args = {});
  ~Child();
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  // Waits for the child and returns its exit code (128 + signal when it
  // was killed by one; kKilledExitCode after Kill, on every system).
  int Wait();
  // Kills the child at once (SIGKILL / TerminateProcess).
  void Kill();
  bool Running();

 private:
  long long id_ = -1;  // pid, or the process handle on Windows
  bool waited_ = false;
  int exit_code_ = -1;
};

// The exit code of a child ended by Child::Kill: 128 + SIGKILL on POSIX,
// and the code that TerminateProcess is given on Windows.
inline constexpr int kKilledExitCode = 128 + 9;

// Waits until `path` exists (a file by which `child` signals); false when
// the child ends first or kHangBound passes.
bool WaitForFileFrom(const std::string& path, Child& child);

// Path of the running test binary.
std::string SelfPath();

#if !defined(_WIN32)
// Starts a process running `role` of this binary and returns its pid (-1
// when it could not be started), for a parent that waits for it itself,
// such as a tracer; Child does the same and waits for it.
long long SpawnChildRole(const std::string& role, const std::vector<std::string>& args);
#endif

// In a child: ends it when the test process that started it ends, so that
// a failed or killed test leaves no process behind that still calls into
// the region. (On Windows a Child is in a job with its parent from its
// creation on, which the system ends when the parent ends: there this
// does nothing.)
void DieWithParent();

// In a child: waits, doing nothing, until it is killed.
[[noreturn]] void WaitToBeKilled();

// Sends this process's standard output to the null device (a child whose
// output would flood the log that it shares with its parent).
bool DiscardStandardOutput();

}  // namespace kha::test

#define KHA_CHILD_ROLE_CONCAT_(a, b) a##b
#define KHA_CHILD_ROLE_CONCAT(a, b) KHA_CHILD_ROLE_CONCAT_(a, b)
#define KHA_CHILD_ROLE(name, function)                                            \
  static const bool KHA_CHILD_ROLE_CONCAT(kha_child_role_registered_, __LINE__) = \
      ::kha::test::RegisterChildRole(name, function)
