#include "support/spawned_program.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <sstream>

extern char** environ;

namespace kha::test {

bool CanRunAsOtherAccounts() {
  if (::geteuid() != 0) return false;
  const char* path = std::getenv("PATH");
  std::istringstream directories(path != nullptr ? path : "/usr/bin:/bin");
  for (std::string directory; std::getline(directories, directory, ':');) {
    if (::access((directory + "/setpriv").c_str(), X_OK) == 0) return true;
  }
  return false;
}

std::vector<std::string> AsAccount(uid_t uid, const std::vector<std::string>& command) {
  const std::string id = std::to_string(uid);
  std::vector<std::string> argv{"setpriv", "--reuid=" + id, "--regid=" + id, "--clear-groups"};
  argv.insert(argv.end(), command.begin(), command.end());
  return argv;
}

SpawnedProgram::SpawnedProgram(const std::vector<std::string>& argv) {
  int input[2] = {-1, -1};
  int output[2] = {-1, -1};
  if (::pipe2(input, O_CLOEXEC) != 0) return;
  if (::pipe2(output, O_CLOEXEC) != 0) {
    ::close(input[0]);
    ::close(input[1]);
    return;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, input[0], 0);
  posix_spawn_file_actions_adddup2(&actions, output[1], 1);
  posix_spawn_file_actions_adddup2(&actions, output[1], 2);
  std::vector<char*> pointers;
  for (const std::string& arg : argv) pointers.push_back(const_cast<char*>(arg.c_str()));
  pointers.push_back(nullptr);
  if (::posix_spawnp(&pid_, pointers[0], &actions, nullptr, pointers.data(), environ) != 0) {
    pid_ = -1;
  }
  posix_spawn_file_actions_destroy(&actions);
  ::close(input[0]);
  ::close(output[1]);
  input_ = input[1];
  output_ = output[0];
}

SpawnedProgram::~SpawnedProgram() {
  CloseInput();
  if (pid_ > 0 && status_ < 0) {
    ::kill(pid_, SIGKILL);
    Wait();
  }
  if (output_ >= 0) ::close(output_);
}

bool SpawnedProgram::ReadLine(std::string* line) {
  line->clear();
  char byte = 0;
  while (output_ >= 0) {
    const ssize_t got = ::read(output_, &byte, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return !line->empty();
    if (byte == '\n') return true;
    *line += byte;
  }
  return false;
}

std::string SpawnedProgram::ReadToEnd() {
  std::string text;
  char buffer[512];
  while (output_ >= 0) {
    const ssize_t got = ::read(output_, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    text.append(buffer, static_cast<size_t>(got));
  }
  return text;
}

void SpawnedProgram::CloseInput() {
  if (input_ >= 0) ::close(input_);
  input_ = -1;
}

void SpawnedProgram::Signal(int signal) {
  if (pid_ > 0 && status_ < 0) ::kill(pid_, signal);
}

int SpawnedProgram::Wait() {
  if (pid_ <= 0 || status_ >= 0) return status_;
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return status_;
}

}  // namespace kha::test
