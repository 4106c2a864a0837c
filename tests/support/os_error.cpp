#include "support/os_error.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <cerrno>
#endif

namespace kha::test {

#if defined(_WIN32)
int LastOsError() { return static_cast<int>(GetLastError()); }
void SetLastOsError(int error) { SetLastError(static_cast<DWORD>(error)); }
#else
int LastOsError() { return errno; }
void SetLastOsError(int error) { errno = error; }
#endif

}  // namespace kha::test
