// Conversions between the opaque objects of platform.h and Windows
// handles. Only the Windows backend's sources include this (it pulls in
// <windows.h>, whose CreateMutex/OpenMutex macros it takes back out).
#pragma once

#include <windows.h>

#undef CreateMutex
#undef OpenMutex

#include "platform/platform.h"

namespace kha::platform::win32 {

inline HANDLE HandleOf(MutexObject* mutex) { return reinterpret_cast<HANDLE>(mutex); }
inline HANDLE HandleOf(SectionObject* section) { return reinterpret_cast<HANDLE>(section); }
inline MutexObject* AsMutex(HANDLE handle) { return reinterpret_cast<MutexObject*>(handle); }
inline SectionObject* AsSection(HANDLE handle) { return reinterpret_cast<SectionObject*>(handle); }
inline PSECURITY_DESCRIPTOR DescriptorOf(SecurityDescriptor* sd) {
  return reinterpret_cast<PSECURITY_DESCRIPTOR>(sd);
}

// Attributes that hand `sd` to a create call, the handle not inheritable.
inline SECURITY_ATTRIBUTES AttributesFor(SecurityDescriptor* sd) {
  SECURITY_ATTRIBUTES attributes;
  attributes.nLength = sizeof(SECURITY_ATTRIBUTES);
  attributes.lpSecurityDescriptor = DescriptorOf(sd);
  attributes.bInheritHandle = FALSE;
  return attributes;
}

}  // namespace kha::platform::win32
