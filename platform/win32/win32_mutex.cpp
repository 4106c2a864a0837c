// The HistAdmin mutex on Windows: a named kernel mutex, which is
// re-entrant for its owning thread and reports an owner that died while
// holding it as abandoned.
#include <string>

#include "platform/object_names.h"
#include "platform/win32/win32_handles.h"
#include "platform/win32/win32_objects.h"

namespace kha::platform::win32 {
namespace {

// Only the synchronize right: enough to wait on and release the mutex.
constexpr DWORD kMutexAccess = 0x00100000;

}  // namespace

MutexObject* CreateNamedMutex(const char* name, SecurityDescriptor* sd) {
  const std::string object_name = PrefixedObjectName(name);
  SECURITY_ATTRIBUTES attributes = AttributesFor(sd);
  // Not initially owned: set-up takes it through the ordinary lock.
  return AsMutex(::CreateMutexA(sd != nullptr ? &attributes : nullptr, FALSE, object_name.c_str()));
}

MutexObject* OpenNamedMutex(const char* name) {
  const std::string object_name = PrefixedObjectName(name);
  return AsMutex(::OpenMutexA(kMutexAccess, FALSE, object_name.c_str()));
}

LockOutcome WaitForMutex(MutexObject* mutex) {
  switch (::WaitForSingleObject(HandleOf(mutex), INFINITE)) {
    case WAIT_OBJECT_0:
      return LockOutcome::kTaken;
    case WAIT_ABANDONED:
      // The owner ended while holding it; the wait has made us the owner.
      return LockOutcome::kAbandoned;
    default:
      return LockOutcome::kFailed;
  }
}

bool ReleaseNamedMutex(MutexObject* mutex) { return ::ReleaseMutex(HandleOf(mutex)) != FALSE; }

void CloseNamedMutex(MutexObject* mutex) {
  if (mutex != nullptr) ::CloseHandle(HandleOf(mutex));
}

}  // namespace kha::platform::win32
