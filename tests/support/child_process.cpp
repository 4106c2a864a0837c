#include "support/child_process.h"

#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <thread>

#include "support/temporary_directory.h"
#include "support/watchdog.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
extern char** environ;
#endif

namespace kha::test {
namespace {

constexpr const char kRoleFlag[] = "--kha-child=";

std::map<std::string, ChildRole>& Roles() {
  static std::map<std::string, ChildRole> roles;
  return roles;
}

}  // namespace

void WaitToBeKilled() {
  for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}

bool DiscardStandardOutput() {
#if defined(_WIN32)
  return std::freopen("NUL", "w", stdout) != nullptr;
#else
  return std::freopen("/dev/null", "w", stdout) != nullptr;
#endif
}

bool WaitForFileFrom(const std::string& path, Child& child) {
  const auto give_up = std::chrono::steady_clock::now() + kHangBound;
  while (!Exists(path)) {
    if (!child.Running() || std::chrono::steady_clock::now() > give_up) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

bool RegisterChildRole(const std::string& name, ChildRole role) {
  Roles()[name] = std::move(role);
  return true;
}

int RunChildRoleIfAsked(int argc, char** argv) {
  if (argc < 2) return -1;
  const std::string first = argv[1];
  if (first.rfind(kRoleFlag, 0) != 0) return -1;
  const std::string name = first.substr(sizeof(kRoleFlag) - 1);
  auto found = Roles().find(name);
  if (found == Roles().end()) return 125;
  std::vector<std::string> args(argv + 2, argv + argc);
  return found->second(args);
}

#if defined(_WIN32)

std::string SelfPath() {
  char path[MAX_PATH];
  DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  return std::string(path, length);
}

namespace {

// Puts this process, once, in a job that the system ends, with every
// process in it, when the last handle to it closes: when this process
// ends, however it ends. A child is in the job from its creation on, so
// no moment exists in which it could outlive a killed parent.
void JoinChildrenJob() {
  static const bool joined = [] {
    const HANDLE job = CreateJobObjectA(nullptr, nullptr);
    if (job == nullptr) return false;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits) ||
        !AssignProcessToJobObject(job, GetCurrentProcess())) {
      CloseHandle(job);
      return false;
    }
    return true;  // the handle stays open as long as this process lives
  }();
  (void)joined;
}

}  // namespace

void DieWithParent() {}

Child::Child(const std::string& role, const std::vector<std::string>& args) {
  std::string command = "\"" + SelfPath() + "\" " + kRoleFlag + role;
  for (const std::string& arg : args) command += " \"" + arg + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  JoinChildrenJob();
  // Under load Wine now and then loses a new process while it starts:
  // CreateProcess then fails with ERROR_INTERNAL_ERROR and no process
  // exists, so none of our code ran. Such a start is tried again; every
  // failed start is told, and one that keeps failing leaves no child.
  for (int attempt = 1; attempt <= 5; ++attempt) {
    if (CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                       &startup, &info)) {
      CloseHandle(info.hThread);
      id_ = reinterpret_cast<long long>(info.hProcess);
      return;
    }
    const DWORD error = GetLastError();
    std::fprintf(stderr, "child %s: CreateProcess failed (error %lu), start %d of 5\n",
                 role.c_str(), static_cast<unsigned long>(error), attempt);
    if (error != ERROR_INTERNAL_ERROR) return;
  }
}

Child::~Child() {
  if (id_ == -1) return;
  if (!waited_) {
    Kill();
    Wait();
  }
  CloseHandle(reinterpret_cast<HANDLE>(id_));
}

int Child::Wait() {
  if (waited_ || id_ == -1) return exit_code_;
  HANDLE process = reinterpret_cast<HANDLE>(id_);
  WaitForSingleObject(process, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process, &code);
  exit_code_ = static_cast<int>(code);
  waited_ = true;
  return exit_code_;
}

void Child::Kill() {
  if (id_ != -1 && !waited_) TerminateProcess(reinterpret_cast<HANDLE>(id_), kKilledExitCode);
}

bool Child::Running() {
  if (id_ == -1 || waited_) return false;
  return WaitForSingleObject(reinterpret_cast<HANDLE>(id_), 0) == WAIT_TIMEOUT;
}

#else

void DieWithParent() { ::prctl(PR_SET_PDEATHSIG, SIGKILL); }

std::string SelfPath() {
  char path[PATH_MAX];
  const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
  return length > 0 ? std::string(path, static_cast<size_t>(length)) : std::string();
}

long long SpawnChildRole(const std::string& role, const std::vector<std::string>& args) {
  const std::string self = SelfPath();
  const std::string flag = kRoleFlag + role;
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(self.c_str()));
  argv.push_back(const_cast<char*>(flag.c_str()));
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  return posix_spawn(&pid, self.c_str(), nullptr, nullptr, argv.data(), environ) == 0 ? pid : -1;
}

Child::Child(const std::string& role, const std::vector<std::string>& args)
    : id_(SpawnChildRole(role, args)) {}

Child::~Child() {
  if (id_ == -1 || waited_) return;
  Kill();
  Wait();
}

int Child::Wait() {
  if (waited_ || id_ == -1) return exit_code_;
  int status = 0;
  while (::waitpid(static_cast<pid_t>(id_), &status, 0) < 0) {
  }
  exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  waited_ = true;
  return exit_code_;
}

void Child::Kill() {
  if (id_ != -1 && !waited_) ::kill(static_cast<pid_t>(id_), SIGKILL);
}

bool Child::Running() {
  if (id_ == -1 || waited_) return false;
  int status = 0;
  const pid_t done = ::waitpid(static_cast<pid_t>(id_), &status, WNOHANG);
  if (done == 0) return true;
  exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  waited_ = true;
  return false;
}

#endif

}  // namespace kha::test
