// The Windows backend of the platform interface. Every failure carries
// GetLastError as the failed call left it.
#include "platform/platform.h"
#include "platform/win32/win32_handles.h"
#include "platform/win32/win32_objects.h"

namespace kha::platform {

OsFailure win32::FailureAt(Step step) { return {step, static_cast<int>(::GetLastError())}; }

namespace {

class Win32Platform final : public Platform {
 public:
  // A create or an open whose name cannot be allocated fails with
  // ERROR_NOT_ENOUGH_MEMORY.
  OsResult<MutexObject*> CreateMutex(const char* name) override {
    return AcquiringWithoutThrow<MutexObject*>(Step::kCreateMutex, ERROR_NOT_ENOUGH_MEMORY,
                                               [&] { return win32::CreateNamedMutex(name); });
  }
  OsResult<MutexObject*> OpenMutex(const char* name) override {
    return AcquiringWithoutThrow<MutexObject*>(Step::kOpenMutex, ERROR_NOT_ENOUGH_MEMORY,
                                               [&] { return win32::OpenNamedMutex(name); });
  }
  OsResult<LockOutcome> LockMutex(MutexObject* mutex) override {
    return win32::LockNamedMutex(mutex);
  }
  OsResult<void> UnlockMutex(MutexObject* mutex) override { return win32::UnlockNamedMutex(mutex); }
  void CloseMutex(MutexObject* mutex) override { win32::CloseNamedMutex(mutex); }

  OsResult<SectionObject*> CreateSection(const char* name, uint32_t size) override {
    return AcquiringWithoutThrow<SectionObject*>(
        Step::kCreateSection, ERROR_NOT_ENOUGH_MEMORY,
        [&] { return win32::CreateNamedSection(name, size); });
  }
  OsResult<SectionObject*> OpenSection(const char* name) override {
    return AcquiringWithoutThrow<SectionObject*>(Step::kOpenSection, ERROR_NOT_ENOUGH_MEMORY,
                                                 [&] { return win32::OpenNamedSection(name); });
  }
  OsResult<uint64_t> SectionSize(SectionObject* section) override {
    return win32::MappedSectionSize(section);
  }
  OsResult<View> MapView(SectionObject* section) override {
    return win32::MapWholeSection(section);
  }
  OsResult<void> FlushView(View view) override { return win32::FlushWholeView(view); }
  OsResult<void> UnmapView(View view) override { return win32::UnmapWholeView(view); }
  void CloseSection(SectionObject* section) override { win32::CloseNamedSection(section); }
};

}  // namespace

void LeaveOsError(int error) { ::SetLastError(static_cast<DWORD>(error)); }

// Windows has no fork: a new process starts with nothing of its parent's.
void RunAroundFork(void (*)(), void (*)(), void (*)()) {}

namespace {
void (*g_thread_end)(void*) = nullptr;
void NTAPI ThreadEnded(void* value) {
  if (value != nullptr) g_thread_end(value);
}
}  // namespace

// A fiber-local value with a callback: Windows calls it with the value
// when the thread ends (and when the process does).
bool CallAtThreadEnd(void (*end)(void*), void* value) {
  static const DWORD index = [end] {
    g_thread_end = end;
    return ::FlsAlloc(ThreadEnded);
  }();
  return index != FLS_OUT_OF_INDEXES && ::FlsSetValue(index, value);
}

bool StartProcessBarriers() { return true; }

// Interrupts every processor that runs a thread of this process, each of
// which then drains its stores.
bool ProcessBarrier() {
  ::FlushProcessWriteBuffers();
  return true;
}

Platform& OsPlatform() {
  static Win32Platform* platform = new Win32Platform();
  return *platform;
}

}  // namespace kha::platform
