// Another program run by a test, its standard output and error read
// through one pipe and its standard input fed through another, and the
// same as another account (POSIX only).
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace kha::test {

// An account that is not root and, in practice, owns nothing: 'nobody'.
inline constexpr uid_t kOtherAccount = 65534;
// A second one, for a test that needs two that are neither root nor each
// other; it needs no entry in the account database.
inline constexpr uid_t kThirdAccount = 65533;

// Whether `command` can be run as another account: this process is root
// and setpriv is on the PATH.
bool CanRunAsOtherAccounts();

// `command` run by setpriv as `uid` (its group the same number, no
// supplementary groups); the environment goes along.
std::vector<std::string> AsAccount(uid_t uid, const std::vector<std::string>& command);

class SpawnedProgram {
 public:
  // Starts `argv` (argv[0] looked up on the PATH); started() tells
  // whether it ran.
  explicit SpawnedProgram(const std::vector<std::string>& argv);
  // Closes its standard input, kills it unless it has ended, and waits.
  ~SpawnedProgram();
  SpawnedProgram(const SpawnedProgram&) = delete;
  SpawnedProgram& operator=(const SpawnedProgram&) = delete;

  bool started() const { return pid_ > 0; }
  // The next line of its output, without the newline (the last one may
  // lack it); false at the end of the output.
  bool ReadLine(std::string* line);
  // Everything it prints from now until it ends.
  std::string ReadToEnd();
  // Its standard input reaches its end.
  void CloseInput();
  void Signal(int signal);
  // Its exit status, 128 + the signal that ended it.
  int Wait();

 private:
  pid_t pid_ = -1;
  int input_ = -1;
  int output_ = -1;
  int status_ = -1;
};

}  // namespace kha::test
