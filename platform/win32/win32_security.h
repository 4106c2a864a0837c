// The descriptor the HistAdmin objects are created with: a present but
// null DACL, so that every account on the machine has full access to them.
// It lives on the heap only for the duration of one create call, and is
// freed as soon as that call returns, whatever it returned.
#pragma once

#include "platform/win32/win32_handles.h"

namespace kha::platform::win32 {

// Runs `create` (SECURITY_ATTRIBUTES* -> HANDLE, null with the thread's
// last error set on failure) with attributes that hand it that
// descriptor, the handle not inheritable; a null handle fails at `step`.
template <typename Create>
OsResult<HANDLE> CreateWithOpenAccess(Step step, Create&& create) {
  auto* sd = static_cast<PSECURITY_DESCRIPTOR>(LocalAlloc(LPTR, SECURITY_DESCRIPTOR_MIN_LENGTH));
  if (sd == nullptr) return FailureAt(Step::kAllocateDescriptor);
  OsResult<HANDLE> result = HANDLE{nullptr};
  if (::InitializeSecurityDescriptor(sd, SECURITY_DESCRIPTOR_REVISION) == FALSE) {
    result = FailureAt(Step::kInitializeDescriptor);
  } else if (::SetSecurityDescriptorDacl(sd, TRUE, nullptr, FALSE) == FALSE) {
    result = FailureAt(Step::kSetNullDacl);
  } else {
    SECURITY_ATTRIBUTES attributes;
    attributes.nLength = sizeof(SECURITY_ATTRIBUTES);
    attributes.lpSecurityDescriptor = sd;
    attributes.bInheritHandle = FALSE;
    HANDLE handle = create(&attributes);
    if (handle != nullptr) {
      result = handle;
    } else {
      result = FailureAt(step);
    }
  }
  LocalFree(sd);
  return result;
}

}  // namespace kha::platform::win32
