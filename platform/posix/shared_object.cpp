#include "platform/posix/shared_object.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>

#include "platform/object_names.h"
#include "platform/posix/handle_list.h"

namespace kha::platform::posix {
namespace {

constexpr const char kGuardDirectory[] = "/dev/shm";

int FlockRetrying(int fd, int operation) {
  int result;
  do {
    result = ::flock(fd, operation);
  } while (result != 0 && errno == EINTR);
  return result;
}

// How long one create, open or close may wait for the locks it needs, in
// all. The guard is held for a few system calls at a time, so a wait of
// seconds means that a process holds it (or an object's lock) for its own
// ends: any account can take a flock on anything it can open.
constexpr int64_t kWaitLimitNanoseconds = 5'000'000'000;

int64_t MonotonicNanoseconds() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

// flock(fd, operation) that gives up at `deadline` (CLOCK_MONOTONIC). A
// flock waits without limit, so it is tried without waiting, with pauses
// that grow from 50 us to 5 ms. Fails with EWOULDBLOCK, as a flock that
// may not wait does when the lock is held: the reason is the same, only
// later (ETIMEDOUT would read as a network connection's time-out).
int FlockBefore(int fd, int operation, int64_t deadline) {
  int64_t pause = 50'000;
  for (;;) {
    if (::flock(fd, operation | LOCK_NB) == 0) return 0;
    if (errno != EWOULDBLOCK && errno != EINTR) return -1;
    const int64_t left = deadline - MonotonicNanoseconds();
    if (left <= 0) {
      errno = EWOULDBLOCK;
      return -1;
    }
    const int64_t wait = pause < left ? pause : left;
    const timespec interval{static_cast<time_t>(wait / 1'000'000'000),
                            static_cast<long>(wait % 1'000'000'000)};
    ::nanosleep(&interval, nullptr);
    pause = pause < 2'500'000 ? pause * 2 : 5'000'000;
  }
}

// Exclusive flock on the shared-memory directory: the machine-wide guard
// of every create, open and close. Without it nothing may be done.
class DirectoryGuard {
 public:
  explicit DirectoryGuard(int64_t deadline) {
    fd_ = ::open(kGuardDirectory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ >= 0 && FlockBefore(fd_, LOCK_EX, deadline) != 0) {
      const int saved = errno;
      ::close(fd_);
      fd_ = -1;
      errno = saved;
    }
  }
  ~DirectoryGuard() {
    if (fd_ >= 0) ::close(fd_);  // closing drops the flock
  }
  DirectoryGuard(const DirectoryGuard&) = delete;
  DirectoryGuard& operator=(const DirectoryGuard&) = delete;

  bool Held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

// Gives a fresh object its size, permissions and initial contents.
bool StartAfresh(int fd, std::size_t size, unsigned mode,
                 const std::function<bool(void*)>& initialise) {
  if (::ftruncate(fd, 0) != 0 || ::ftruncate(fd, static_cast<off_t>(size)) != 0) return false;
  // Whatever the umask: every account the descriptor names may use it. An
  // object left behind by another account cannot be changed, but will do
  // when it already has the bits asked for.
  if (::fchmod(fd, static_cast<mode_t>(mode)) != 0) {
    struct stat status {};
    if (::fstat(fd, &status) != 0 || (status.st_mode & 07777) != mode) return false;
  }
  if (!initialise) return true;
  void* mapping = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (mapping == MAP_FAILED) return false;
  const bool ok = initialise(mapping);
  ::munmap(mapping, size);
  return ok;
}

// The object's descriptor: an existing object is opened as it is, a
// missing one created when `create`. Never O_CREAT on an existing name:
// with fs.protected_regular the kernel refuses that in /dev/shm (sticky
// and writable by all) for an object of another account, even one that
// account made open to everyone.
int OpenOrCreate(const std::string& name, bool create, unsigned mode) {
  for (;;) {
    const int fd = ::shm_open(name.c_str(), O_RDWR | O_CLOEXEC, 0);
    if (fd >= 0 || errno != ENOENT || !create) return fd;
    const int created =
        ::shm_open(name.c_str(), O_RDWR | O_CLOEXEC | O_CREAT | O_EXCL, static_cast<mode_t>(mode));
    if (created >= 0 || errno != EEXIST) return created;
    // Made meanwhile by a process that took no guard: open it after all.
  }
}

// Whether the object belongs to this process's account or to root: EPERM
// when it does not.
bool OursOrRoots(int fd) {
  struct stat status {};
  if (::fstat(fd, &status) != 0) return false;
  if (status.st_uid == ::geteuid() || status.st_uid == 0) return true;
  errno = EPERM;
  return false;
}

constinit HandleList<SharedObject> g_objects;

// A new open file description of the object behind `fd`, or -1. Through
// /proc it is the same object even when its name is gone; without /proc,
// the name, when it still names the same object.
int OpenAfresh(int fd, const std::string& name) {
  char path[64];
  std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
  int fresh = ::open(path, O_RDWR | O_CLOEXEC);
  if (fresh >= 0) return fresh;
  fresh = ::shm_open(name.c_str(), O_RDWR | O_CLOEXEC, 0);
  if (fresh < 0) return -1;
  struct stat inherited {
  }, reopened{};
  if (::fstat(fd, &inherited) != 0 || ::fstat(fresh, &reopened) != 0 ||
      inherited.st_dev != reopened.st_dev || inherited.st_ino != reopened.st_ino) {
    ::close(fresh);
    return -1;
  }
  return fresh;
}

}  // namespace

void BeforeForkOfObjects() { g_objects.Mutex().lock(); }
void AfterForkOfObjectsInParent() { g_objects.Mutex().unlock(); }

void AfterForkOfObjectsInChild() {
  g_objects.Walk([](SharedObject* object) {
    if (object->fd < 0 || !object->own_share) return;
    // The share is taken without waiting: only a last closer holds the
    // object exclusively, and then the object is going anyway.
    const int fresh = OpenAfresh(object->fd, object->name);
    if (fresh >= 0 && FlockRetrying(fresh, LOCK_SH | LOCK_NB) == 0 &&
        ::dup2(fresh, object->fd) >= 0) {
      ::close(fresh);
      return;
    }
    if (fresh >= 0) ::close(fresh);
    // The inherited descriptor stays, for the mappings made through it;
    // releasing it will only close it, never end the parent's share.
    object->own_share = false;
  });
  g_objects.Mutex().unlock();
}

int OpenAnotherDescription(const SharedObject& object) {
  return OpenAfresh(object.fd, object.name);
}

std::string PosixObjectName(const char* windows_name) {
  return "/" + ObjectNameWithoutNamespace(ObjectName(windows_name));
}

bool AcquireSharedObject(const std::string& name, Disposition disposition, std::size_t size,
                         unsigned mode, const std::function<bool(void*)>& initialise,
                         SharedObject* object) {
  // The one allocation, before anything is held (it may throw).
  object->name = name;
  const int64_t deadline = MonotonicNanoseconds() + kWaitLimitNanoseconds;
  DirectoryGuard guard(deadline);
  if (!guard.Held()) return false;
  const bool create = disposition == Disposition::kCreateOrOpen;
  const int fd = OpenOrCreate(name, create, mode);
  if (fd < 0) return false;
  if (create && !OursOrRoots(fd)) {
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return false;
  }

  if (FlockRetrying(fd, LOCK_EX | LOCK_NB) == 0) {
    // Nobody holds it: it is new, or every holder died without closing.
    if (!create || size == 0 || !StartAfresh(fd, size, mode, initialise)) {
      const int saved = create ? errno : ENOENT;
      ::shm_unlink(name.c_str());
      ::close(fd);
      errno = saved;
      return false;
    }
  }
  // Converting our exclusive lock, or joining the other holders. Under
  // the guard nobody can slip in between, but anybody who can open the
  // object can hold it exclusively without the guard.
  struct stat status {};
  if (FlockBefore(fd, LOCK_SH, deadline) != 0 || ::fstat(fd, &status) != 0 || status.st_size <= 0) {
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return false;
  }
  object->fd = fd;
  object->size = static_cast<std::size_t>(status.st_size);
  object->own_share = true;
  g_objects.Add(object);
  return true;
}

void ReleaseSharedObject(SharedObject* object) {
  if (object->fd < 0) return;
  g_objects.Remove(object);
  if (object->own_share) {
    // Without the guard the name is left for the next creator or opener
    // to find unheld and clear away; closing still drops this holder.
    DirectoryGuard guard(MonotonicNanoseconds() + kWaitLimitNanoseconds);
    if (guard.Held() && FlockRetrying(object->fd, LOCK_EX | LOCK_NB) == 0) {
      ::shm_unlink(object->name.c_str());
    }
  }
  ::close(object->fd);
  object->fd = -1;
}

}  // namespace kha::platform::posix
