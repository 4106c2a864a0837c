#include "failure.h"

#include "kestihistadmin.h"

namespace kha::histadmin {

std::string ErrorMessage(int32_t code) {
  char buffer[KHA_MESSAGE_BUFFER_SIZE];
  uint32_t length = sizeof buffer;
  GetKestiHistAdminErrorMessage(code, buffer, &length);
  buffer[sizeof buffer - 1] = '\0';
  return buffer;
}

void FailWithCode(int32_t code, const std::string& what) {
  throw CommandFailure(kExitFailure,
                       what + ": " + ErrorMessage(code) + " (code " + std::to_string(code) + ")");
}

void Fail(const std::string& message) { throw CommandFailure(kExitFailure, message); }

void FailUsage(const std::string& message) { throw CommandFailure(kExitUsage, message); }

}  // namespace kha::histadmin
