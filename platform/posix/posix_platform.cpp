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
  // A section here is a POSIX shared-memory object: the pages of the view
  // are the object itself, the same pages in every process that maps it,
  // and nothing lies beneath them to be written to. A store through the
  // view is in the section for every process once it is made (the
  // HistAdmin mutex orders it), and the section ends with its last holder.
  // So a flush has nothing left to do; msync would only cost a system call
  // (its fsync on such an object does nothing), whatever the length.
  bool FlushView(void* view, size_t /*length*/) override { return view != nullptr; }
  bool UnmapView(void* view, size_t length) override { return ::munmap(view, length) == 0; }
  void CloseSection(SectionObject* section) override { posix::ReleaseSection(section); }

 private:
  static mode_t ModeOf(const SecurityDescriptor* sd) {
    return sd != nullptr ? sd->mode : kEveryAccount;
  }
};

}  // namespace

Platform& OsPlatform() {
  static PosixPlatform* platform = new PosixPlatform();
  return *platform;
}

}  // namespace kha::platform
