#include "failure.h"

#include "kestihistadmin.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <cerrno>
#include <cstring>
#endif

namespace kha::histadmin {

int LastOsError() {
#if defined(_WIN32)
  return static_cast<int>(GetLastError());
#else
  return errno;
#endif
}

bool NamesNoObject(int os_error) {
#if defined(_WIN32)
  return os_error == ERROR_FILE_NOT_FOUND;
#else
  return os_error == ENOENT;
#endif
}

namespace {

// The OS's own text for `error`, without a closing full stop or line break.
std::string OsErrorText(int error) {
#if defined(_WIN32)
  char buffer[512] = {};
  const DWORD length =
      FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                     static_cast<DWORD>(error), 0, buffer, sizeof buffer, nullptr);
  std::string text(buffer, length);
  if (text.empty()) text = "error " + std::to_string(error);
#else
  std::string text = std::strerror(error);
#endif
  while (!text.empty() &&
         (text.back() == '\n' || text.back() == '\r' || text.back() == '.' || text.back() == ' ')) {
    text.pop_back();
  }
  return text;
}

// Codes of a failed kernel-object step: the export leaves the OS error
// behind them (0 when the failure had no OS cause).
bool HasOsReason(int32_t code) { return code <= KHA_NO_MEMORY && code >= KHA_FLUSH_VIEW_FAILED; }

}  // namespace

std::string ErrorMessage(int32_t code) {
  char buffer[KHA_MESSAGE_BUFFER_SIZE];
  uint32_t length = sizeof buffer;
  GetKestiHistAdminErrorMessage(code, buffer, &length);
  buffer[sizeof buffer - 1] = '\0';
  return buffer;
}

void FailWithCode(int32_t code, const std::string& what) {
  FailWithCode(code, what, LastOsError());  // before anything else can change it
}

void FailWithCode(int32_t code, const std::string& what, int os_error, int exit_status) {
  std::string reason;
  if (HasOsReason(code) && os_error != 0) reason = " (" + OsErrorText(os_error) + ")";
  std::string hint;
  if (code == KHA_NO_SPACE) {
    hint =
        ": either the region has no room left for another slot (a region served with a "
        "larger `serve --size` has more) or the undo journal beside it refused the change; "
        "nothing was changed";
  }
  throw CommandFailure(exit_status, what + ": " + ErrorMessage(code) + reason + " (code " +
                                        std::to_string(code) + ")" + hint);
}

void CheckInPlace(int32_t code, const std::string& what) {
  if (code != KHA_NO_SPACE) return Check(code, what);
  throw CommandFailure(kExitFailure,
                       what + ": " + ErrorMessage(code) + " (code " + std::to_string(code) +
                           "): the undo journal beside the region refused the change (it is "
                           "full, or of another build's layout); nothing was changed");
}

void Fail(const std::string& message) { throw CommandFailure(kExitFailure, message); }

void FailUsage(const std::string& message) { throw CommandFailure(kExitUsage, message); }

}  // namespace kha::histadmin
