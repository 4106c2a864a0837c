// The Windows backend's kernel objects. The opaque objects of platform.h
// are the Windows handles themselves, so the backend takes no memory of
// its own beyond the security descriptor of a creation
// (win32_security.h).
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

namespace kha::platform::win32 {

OsResult<MutexObject*> CreateNamedMutex(const char* name);
OsResult<MutexObject*> OpenNamedMutex(const char* name);
OsResult<LockOutcome> LockNamedMutex(MutexObject* mutex);
OsResult<void> UnlockNamedMutex(MutexObject* mutex);
void CloseNamedMutex(MutexObject* mutex);

OsResult<SectionObject*> CreateNamedSection(const char* name, uint32_t size);
OsResult<SectionObject*> OpenNamedSection(const char* name);
OsResult<uint64_t> MappedSectionSize(SectionObject* section);
OsResult<View> MapWholeSection(SectionObject* section);
OsResult<void> FlushWholeView(View view);
OsResult<void> UnmapWholeView(View view);
void CloseNamedSection(SectionObject* section);

}  // namespace kha::platform::win32
