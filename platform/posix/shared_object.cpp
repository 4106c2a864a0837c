#include "platform/posix/shared_object.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/object_names.h"

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

// Exclusive flock on the shared-memory directory: the machine-wide guard
// of every create, open and close. Without it nothing may be done.
class DirectoryGuard {
 public:
  DirectoryGuard() {
    fd_ = ::open(kGuardDirectory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ >= 0 && FlockRetrying(fd_, LOCK_EX) != 0) {
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

}  // namespace

std::string PosixObjectName(const char* windows_name) {
  return "/" + ObjectNameWithoutNamespace(ObjectName(windows_name));
}

bool AcquireSharedObject(const std::string& name, Disposition disposition, std::size_t size,
                         unsigned mode, const std::function<bool(void*)>& initialise,
                         SharedObject* object) {
  DirectoryGuard guard;
  if (!guard.Held()) return false;
  const bool create = disposition == Disposition::kCreateOrOpen;
  const int fd = ::shm_open(name.c_str(), O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0),
                            static_cast<mode_t>(mode));
  if (fd < 0) return false;

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
  // the guard nobody can slip in between.
  struct stat status {};
  if (FlockRetrying(fd, LOCK_SH) != 0 || ::fstat(fd, &status) != 0 || status.st_size <= 0) {
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return false;
  }
  object->fd = fd;
  object->name = name;
  object->size = static_cast<std::size_t>(status.st_size);
  return true;
}

void ReleaseSharedObject(SharedObject* object) {
  if (object->fd < 0) return;
  // Without the guard the name is left for the next creator or opener to
  // find unheld and clear away; closing still drops this holder.
  DirectoryGuard guard;
  if (guard.Held() && FlockRetrying(object->fd, LOCK_EX | LOCK_NB) == 0) {
    ::shm_unlink(object->name.c_str());
  }
  ::close(object->fd);
  object->fd = -1;
}

}  // namespace kha::platform::posix
