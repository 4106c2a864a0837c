// The OS error number that a failed export leaves for its caller: errno,
// or the thread's last error on Windows.
#pragma once

#include <cstdint>
#include <utility>

namespace kha::test {

int LastOsError();
void SetLastOsError(int error);

// An export's result and the OS error it left, read straight after it
// returned (anything in between may change the OS error).
using ResultAndError = std::pair<int32_t, int>;

// Runs `call` with the OS error set to `before` first.
template <typename Call>
ResultAndError CallKeepingOsError(Call&& call, int before = 0) {
  SetLastOsError(before);
  const int32_t result = call();
  const int error = LastOsError();
  return {result, error};
}

}  // namespace kha::test
