// Conversions between the opaque objects of platform.h and Windows
// handles, and the backend's error mapping. Only the Windows backend's
// sources include this (it pulls in <windows.h>, whose CreateMutex and
// OpenMutex macros it takes back out).
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

// The failure of `step`, with the reason that GetLastError gives: called
// right after the failed call, before anything else can change it.
OsFailure FailureAt(Step step);

}  // namespace kha::platform::win32
