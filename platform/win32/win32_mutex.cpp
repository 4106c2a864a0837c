// The HistAdmin mutex on Windows: a named kernel mutex, which is
// re-entrant for its owning thread and reports an owner that died while
// holding it as abandoned.
#include <string>

#include "platform/object_names.h"
#include "platform/win32/win32_handles.h"
#include "platform/win32/win32_objects.h"
#include "platform/win32/win32_security.h"

namespace kha::platform::win32 {
namespace {

// Only the synchronize right: enough to wait on and release the mutex.
constexpr DWORD kMutexAccess = 0x00100000;

// How long a taker of an abandoned mutex waits before it goes on.
constexpr DWORD kSettleAfterAbandonedMs = 20;

}  // namespace

OsResult<MutexObject*> CreateNamedMutex(const char* name) {
  const std::string object_name = ObjectName(name);
  const OsResult<HANDLE> created =
      CreateWithOpenAccess(Step::kCreateMutex, [&](SECURITY_ATTRIBUTES* attributes) {
        // Not initially owned: set-up takes it through the ordinary lock.
        return ::CreateMutexA(attributes, FALSE, object_name.c_str());
      });
  if (!created.ok()) return created.failure();
  return AsMutex(created.value());
}

OsResult<MutexObject*> OpenNamedMutex(const char* name) {
  const std::string object_name = ObjectName(name);
  HANDLE handle = ::OpenMutexA(kMutexAccess, FALSE, object_name.c_str());
  if (handle == nullptr) return FailureAt(Step::kOpenMutex);
  return AsMutex(handle);
}

OsResult<LockOutcome> LockNamedMutex(MutexObject* mutex) {
  switch (::WaitForSingleObject(HandleOf(mutex), INFINITE)) {
    case WAIT_OBJECT_0:
      return LockOutcome::kTaken;
    case WAIT_ABANDONED:
      // The owner ended while holding it; the wait has made us the owner.
      // The caller rolls back the owner's unfinished operation at once,
      // so the owner must have stopped storing into the region by then.
      // Windows abandons a mutex only when the owning thread has stopped.
      // Wine does it earlier: when a process is terminated, its server
      // marks the threads dead and hands their mutexes on first, and
      // signals the threads' Unix process to stop only after that, so
      // the dead owner can go on storing for a moment (longer when the
      // woken taker has pushed the server off its processor). The pause
      // lets the server run and the owner stop (in the test that kills a
      // holder storing without end, a mere yield was enough even on a
      // loaded machine; 20 ms leaves room). A dead owner is rare, and the
      // pause costs nothing else.
      ::Sleep(kSettleAfterAbandonedMs);
      return LockOutcome::kAbandoned;
    default:
      return FailureAt(Step::kLockMutex);
  }
}

OsResult<void> UnlockNamedMutex(MutexObject* mutex) {
  if (::ReleaseMutex(HandleOf(mutex)) == FALSE) return FailureAt(Step::kUnlockMutex);
  return {};
}

void CloseNamedMutex(MutexObject* mutex) {
  if (mutex != nullptr) ::CloseHandle(HandleOf(mutex));
}

}  // namespace kha::platform::win32
