// The descriptor the HistAdmin objects are created with: a present but
// null DACL, so that every account on the machine has full access to them.
// It lives on the heap only for the duration of one create call, and is
// freed as soon as that call returns, whatever it returned.
#include "platform/win32/win32_handles.h"
#include "platform/win32/win32_objects.h"

namespace kha::platform::win32 {

OsResult<void*> CreateWithOpenAccess(Step step,
                                     const std::function<void*(void* attributes)>& create) {
  auto* sd = static_cast<PSECURITY_DESCRIPTOR>(LocalAlloc(LPTR, SECURITY_DESCRIPTOR_MIN_LENGTH));
  if (sd == nullptr) return FailureAt(Step::kAllocateDescriptor);
  OsResult<void*> result = nullptr;
  if (::InitializeSecurityDescriptor(sd, SECURITY_DESCRIPTOR_REVISION) == FALSE) {
    result = FailureAt(Step::kInitializeDescriptor);
  } else if (::SetSecurityDescriptorDacl(sd, TRUE, nullptr, FALSE) == FALSE) {
    result = FailureAt(Step::kSetNullDacl);
  } else {
    SECURITY_ATTRIBUTES attributes;
    attributes.nLength = sizeof(SECURITY_ATTRIBUTES);
    attributes.lpSecurityDescriptor = sd;
    attributes.bInheritHandle = FALSE;
    void* handle = create(&attributes);
    result = handle != nullptr ? OsResult<void*>(handle) : FailureAt(step);
  }
  LocalFree(sd);
  return result;
}

}  // namespace kha::platform::win32
