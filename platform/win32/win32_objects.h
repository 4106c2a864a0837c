// The Windows backend's kernel objects. The opaque objects of platform.h
// are the Windows handles and the heap block of the descriptor themselves,
// so the backend takes no memory of its own beyond that descriptor.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

namespace kha::platform::win32 {

SecurityDescriptor* AllocateDescriptor();
bool InitializeDescriptor(SecurityDescriptor* sd);
bool SetNullDacl(SecurityDescriptor* sd);
void FreeDescriptor(SecurityDescriptor* sd);

MutexObject* CreateNamedMutex(const char* name, SecurityDescriptor* sd);
MutexObject* OpenNamedMutex(const char* name);
LockOutcome WaitForMutex(MutexObject* mutex);
bool ReleaseNamedMutex(MutexObject* mutex);
void CloseNamedMutex(MutexObject* mutex);

SectionObject* CreateNamedSection(const char* name, uint32_t size, SecurityDescriptor* sd);
SectionObject* OpenNamedSection(const char* name);
uint64_t MappedSectionSize(SectionObject* section);
void* MapWholeSection(SectionObject* section, size_t* length);
bool FlushWholeView(void* view);
bool UnmapWholeView(void* view);
void CloseNamedSection(SectionObject* section);

}  // namespace kha::platform::win32
