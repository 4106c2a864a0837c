// The POSIX backend of the platform interface. The objects are created
// with permission bits 0666 whatever the umask: every account on the
// machine may use them, as a null DACL lets every account use them on
// Windows. Every failure carries errno as the backend's calls left it.
#include <linux/membarrier.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

#include "platform/platform.h"
#include "platform/posix/posix_objects.h"

namespace kha::platform {
namespace {

constexpr mode_t kEveryAccount = 0666;

// The failure of `step`, with the reason that errno gives.
OsFailure FailureAt(Step step) { return {step, errno}; }

// A create or an open (an Acquire call, which returns null with errno
// set): the object, or the failure of `step` with errno; an allocation it
// cannot make fails it with ENOMEM.
template <typename Object, typename Acquire>
OsResult<Object*> AcquiredAt(Step step, Acquire&& acquire) {
  return AcquiringWithoutThrow<Object*>(step, ENOMEM, [&]() -> OsResult<Object*> {
    Object* object = acquire();
    if (object == nullptr) return FailureAt(step);
    return object;
  });
}

class PosixPlatform final : public Platform {
 public:
  OsResult<MutexObject*> CreateMutex(const char* name) override {
    return AcquiredAt<MutexObject>(Step::kCreateMutex, [&] {
      return posix::AcquireMutex(name, posix::Disposition::kCreateOrOpen, kEveryAccount);
    });
  }
  OsResult<MutexObject*> OpenMutex(const char* name) override {
    return AcquiredAt<MutexObject>(Step::kOpenMutex, [&] {
      return posix::AcquireMutex(name, posix::Disposition::kOpenExisting, kEveryAccount);
    });
  }
  OsResult<LockOutcome> LockMutex(MutexObject* mutex) override {
    // kFailed comes with errno set.
    const LockOutcome outcome = posix::LockSharedMutex(mutex);
    if (outcome == LockOutcome::kFailed) return FailureAt(Step::kLockMutex);
    return outcome;
  }
  OsResult<void> UnlockMutex(MutexObject* mutex) override {
    // Refused with EPERM when the calling thread holds no hold of it.
    if (!posix::UnlockSharedMutex(mutex)) return FailureAt(Step::kUnlockMutex);
    return {};
  }
  void CloseMutex(MutexObject* mutex) override { posix::ReleaseMutex(mutex); }

  OsResult<SectionObject*> CreateSection(const char* name, uint32_t size) override {
    return AcquiredAt<SectionObject>(Step::kCreateSection, [&] {
      return posix::AcquireSection(name, posix::Disposition::kCreateOrOpen, size, kEveryAccount);
    });
  }
  OsResult<SectionObject*> OpenSection(const char* name) override {
    return AcquiredAt<SectionObject>(Step::kOpenSection, [&] {
      return posix::AcquireSection(name, posix::Disposition::kOpenExisting, 0, kEveryAccount);
    });
  }
  OsResult<uint64_t> SectionSize(SectionObject* section) override {
    return static_cast<uint64_t>(section->object.size);
  }
  OsResult<View> MapView(SectionObject* section) override {
    View view;
    view.address = posix::MapSection(section, &view.length);
    if (view.address == nullptr) return FailureAt(Step::kMapView);
    return view;
  }
  // The whole view, as FlushViewOfFile with length 0 does. That call starts
  // the write-back of the view's dirty pages and returns without waiting for
  // it: MS_ASYNC is its counterpart. A POSIX shared-memory object has no
  // file beneath its pages, so there is nothing to wait for anyway; MS_SYNC
  // would only add the kernel's trip through a file sync that does nothing.
  // Either still reports a view that is not mapped.
  OsResult<void> FlushView(View view) override {
    if (::msync(view.address, view.length, MS_ASYNC) != 0) return FailureAt(Step::kFlushView);
    return {};
  }
  OsResult<void> UnmapView(View view) override {
    if (::munmap(view.address, view.length) != 0) return FailureAt(Step::kUnmapView);
    return {};
  }
  void CloseSection(SectionObject* section) override { posix::ReleaseSection(section); }
};

}  // namespace

void LeaveOsError(int error) { errno = error; }

void RunAroundFork(void (*prepare)(), void (*parent)(), void (*child)()) {
  posix::RegisterBackendForkHandlers();
  pthread_atfork(prepare, parent, child);
}

namespace {
void (*g_thread_end)(void*) = nullptr;
}  // namespace

bool CallAtThreadEnd(void (*end)(void*), void* value) {
  static pthread_key_t key;
  static const bool made = [end] {
    g_thread_end = end;
    return pthread_key_create(&key, [](void* ended) { g_thread_end(ended); }) == 0;
  }();
  return made && pthread_setspecific(key, value) == 0;
}

bool StartProcessBarriers() {
  return ::syscall(SYS_membarrier, MEMBARRIER_CMD_REGISTER_PRIVATE_EXPEDITED, 0, 0) == 0;
}

// Interrupts every processor that runs a thread of this process, each of
// which passes a full barrier before it goes on.
bool ProcessBarrier() {
  return ::syscall(SYS_membarrier, MEMBARRIER_CMD_PRIVATE_EXPEDITED, 0, 0) == 0;
}

Platform& OsPlatform() {
  static PosixPlatform* platform = new PosixPlatform();
  return *platform;
}

}  // namespace kha::platform
