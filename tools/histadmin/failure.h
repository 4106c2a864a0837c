// How a histadmin command ends when it cannot do what it was asked: an
// exception carrying the exit status and the text for standard error,
// caught once in main.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace kha::histadmin {

inline constexpr int kExitFailure = 1;  // an operation failed
inline constexpr int kExitUsage = 2;    // the command line was wrong
// serve: the new region's configuration could not be loaded (a service
// manager need not try again until someone fixes it).
inline constexpr int kExitNotLoaded = 3;

class CommandFailure : public std::runtime_error {
 public:
  CommandFailure(int exit_status, const std::string& message)
      : std::runtime_error(message), exit_status_(exit_status) {}
  int exit_status() const { return exit_status_; }

 private:
  int exit_status_;
};

// The library's message for a result code.
std::string ErrorMessage(int32_t code);

// Exit 1 with "WHAT: MESSAGE (code CODE)" (for -2022 followed by what it
// may mean: no room for a slot, or the undo journal refused); for the code of a failed
// kernel-object step, with the OS's reason that the export left in errno
// (the thread's last error on Windows): "WHAT: MESSAGE (REASON) (code
// CODE)". Called straight after the export returned.
[[noreturn]] void FailWithCode(int32_t code, const std::string& what);
// The same with the OS error saved straight after the export returned,
// and the exit status to end with.
[[noreturn]] void FailWithCode(int32_t code, const std::string& what, int os_error,
                               int exit_status = kExitFailure);
// Exit 1 with `message`.
[[noreturn]] void Fail(const std::string& message);
// Exit 2 with `message`.
[[noreturn]] void FailUsage(const std::string& message);

// The OS error that the export just returned from left for its caller
// (errno; the thread's last error on Windows).
int LastOsError();
// True for the OS's "no object of that name" (ENOENT, ERROR_FILE_NOT_FOUND).
bool NamesNoObject(int os_error);

// FailWithCode unless `code` is 0 (nothing in between touches the OS
// error).
inline void Check(int32_t code, const std::string& what) {
  if (code != 0) FailWithCode(code, what);
}

// Check for a change that takes no new slot (an update, a delete, a
// tuning put): -2022 can then come only from the undo journal, and the
// message says so rather than the library's "not enough space".
void CheckInPlace(int32_t code, const std::string& what);

}  // namespace kha::histadmin
