// The OS error number that a failed export leaves for its caller: errno,
// or the thread's last error on Windows.
#pragma once

namespace kha::test {

int LastOsError();
void SetLastOsError(int error);

}  // namespace kha::test
