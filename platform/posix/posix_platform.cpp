// The POSIX backend of the platform interface.
#include <sys/mman.h>

#include <new>

#include "platform/platform.h"
#include "platform/posix/posix_objects.h"

namespace kha::platform {
namespace {

constexpr mode_t kEveryAccount = 0666;

class PosixPlatform final : public Platform {
 public:
  SecurityDescriptor* AllocateSecurityDescriptor() override {
    return new (std::nothrow) SecurityDescriptor();
  }
  bool InitializeSecurityDescriptor(SecurityDescriptor* sd) override {
    sd->initialised = true;
    sd->mode = 0600;
    return true;
  }
  bool SetNullDacl(SecurityDescriptor* sd) override {
    if (!sd->initialised) return false;
    sd->mode = kEveryAccount;
    return true;
  }
  void FreeSecurityDescriptor(SecurityDescriptor* sd) override { delete sd; }

  MutexObject* CreateMutex(const char* name, SecurityDescriptor* sd) override {
    return posix::AcquireMutex(name, posix::Disposition::kCreateOrOpen, ModeOf(sd));
  }
  MutexObject* OpenMutex(const char* name) override {
    return posix::AcquireMutex(name, posix::Disposition::kOpenExisting, kEveryAccount);
  }
  LockOutcome LockMutex(MutexObject* mutex) override { return posix::LockSharedMutex(mutex); }
  bool UnlockMutex(MutexObject* mutex) override { return posix::UnlockSharedMutex(mutex); }
  void CloseMutex(MutexObject* mutex) override { posix::ReleaseMutex(mutex); }

  SectionObject* CreateSection(const char* name, uint32_t size, SecurityDescriptor* sd) override {
    return posix::AcquireSection(name, posix::Disposition::kCreateOrOpen, size, ModeOf(sd));
  }
  SectionObject* OpenSection(const char* name) override {
    return posix::AcquireSection(name, posix::Disposition::kOpenExisting, 0, kEveryAccount);
  }
  uint64_t SectionSize(SectionObject* section) override { return section->object.size; }
  void* MapView(SectionObject* section, size_t* length) override {
    return posix::MapSection(section, length);
  }
  // The whole view, as FlushViewOfFile with length 0 does. That call starts
  // the write-back of the view's dirty pages and returns without waiting for
  // it: MS_ASYNC is its counterpart. A POSIX shared-memory object has no
  // file beneath its pages, so there is nothing to wait for anyway; MS_SYNC
  // would only add the kernel's trip through a file sync that does nothing.
  // Either still reports a view that is not mapped.
  bool FlushView(void* view, size_t length) override {
    return ::msync(view, length, MS_ASYNC) == 0;
  }
  bool UnmapView(void* view, size_t length) override { return ::munmap(view, length) == 0; }
  void CloseSection(SectionObject* section) override { posix::ReleaseSection(section); }

 private:
  static mode_t ModeOf(const SecurityDescriptor* sd) {
    return sd != nullptr ? sd->mode : kEveryAccount;
  }
};

}  // namespace

void RunAroundFork(void (*prepare)(), void (*parent)(), void (*child)()) {
  posix::RegisterBackendForkHandlers();
  pthread_atfork(prepare, parent, child);
}

Platform& OsPlatform() {
  static PosixPlatform* platform = new PosixPlatform();
  return *platform;
}

}  // namespace kha::platform
