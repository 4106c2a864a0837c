// The descriptor the HistAdmin objects are created with: a present but
// null DACL, so that every account on the machine has full access to them.
// It lives on the heap only for the duration of one create call.
#include "platform/win32/win32_handles.h"
#include "platform/win32/win32_objects.h"

namespace kha::platform::win32 {

SecurityDescriptor* AllocateDescriptor() {
  return static_cast<SecurityDescriptor*>(LocalAlloc(LPTR, SECURITY_DESCRIPTOR_MIN_LENGTH));
}

bool InitializeDescriptor(SecurityDescriptor* sd) {
  return ::InitializeSecurityDescriptor(DescriptorOf(sd), SECURITY_DESCRIPTOR_REVISION) != FALSE;
}

bool SetNullDacl(SecurityDescriptor* sd) {
  return ::SetSecurityDescriptorDacl(DescriptorOf(sd), TRUE, nullptr, FALSE) != FALSE;
}

void FreeDescriptor(SecurityDescriptor* sd) {
  if (sd != nullptr) LocalFree(sd);
}

}  // namespace kha::platform::win32
