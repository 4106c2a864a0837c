// The Windows backend of the platform interface.
#include "platform/platform.h"
#include "platform/win32/win32_objects.h"

namespace kha::platform {
namespace {

class Win32Platform final : public Platform {
 public:
  SecurityDescriptor* AllocateSecurityDescriptor() override { return win32::AllocateDescriptor(); }
  bool InitializeSecurityDescriptor(SecurityDescriptor* sd) override {
    return win32::InitializeDescriptor(sd);
  }
  bool SetNullDacl(SecurityDescriptor* sd) override { return win32::SetNullDacl(sd); }
  void FreeSecurityDescriptor(SecurityDescriptor* sd) override { win32::FreeDescriptor(sd); }

  MutexObject* CreateMutex(const char* name, SecurityDescriptor* sd) override {
    return win32::CreateNamedMutex(name, sd);
  }
  MutexObject* OpenMutex(const char* name) override { return win32::OpenNamedMutex(name); }
  LockOutcome LockMutex(MutexObject* mutex) override { return win32::WaitForMutex(mutex); }
  bool UnlockMutex(MutexObject* mutex) override { return win32::ReleaseNamedMutex(mutex); }
  void CloseMutex(MutexObject* mutex) override { win32::CloseNamedMutex(mutex); }

  SectionObject* CreateSection(const char* name, uint32_t size, SecurityDescriptor* sd) override {
    return win32::CreateNamedSection(name, size, sd);
  }
  SectionObject* OpenSection(const char* name) override { return win32::OpenNamedSection(name); }
  uint64_t SectionSize(SectionObject* section) override {
    return win32::MappedSectionSize(section);
  }
  void* MapView(SectionObject* section, size_t* length) override {
    return win32::MapWholeSection(section, length);
  }
  bool FlushView(void* view, size_t /*length*/) override { return win32::FlushWholeView(view); }
  bool UnmapView(void* view, size_t /*length*/) override { return win32::UnmapWholeView(view); }
  void CloseSection(SectionObject* section) override { win32::CloseNamedSection(section); }
};

}  // namespace

// Windows has no fork: a new process starts with nothing of its parent's.
void RunAroundFork(void (*)(), void (*)(), void (*)()) {}

Platform& OsPlatform() {
  static Win32Platform* platform = new Win32Platform();
  return *platform;
}

}  // namespace kha::platform
