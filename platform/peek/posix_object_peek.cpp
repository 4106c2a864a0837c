#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>

#include "platform/object_peek.h"
#include "platform/posix/mutex_block.h"

namespace kha::platform {

namespace {

// The object `name` under /dev/shm, opened for reading when it is a plain
// file (a FIFO or a device never makes the caller wait); -1 otherwise.
int OpenPlainObject(const std::string& name, struct stat* status) {
  const int fd =
      ::open(("/dev/shm/" + name).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  if (::fstat(fd, status) != 0 || !S_ISREG(status->st_mode)) {
    ::close(fd);
    return -1;
  }
  return fd;
}

template <typename T>
bool ReadAt(int fd, off_t offset, T* out) {
  return ::pread(fd, out, sizeof(T), offset) == static_cast<ssize_t>(sizeof(T));
}

}  // namespace

uint64_t MutexObjectBytes() { return sizeof(posix::SharedMutexBlock); }

int64_t PeekMutexHolder(const std::string& name) {
  using posix::SharedMutexBlock;
  struct stat status {};
  const int fd = OpenPlainObject(name, &status);
  if (fd < 0) return -1;
  int64_t pid = -1;
  uint32_t word = 0;
  if (status.st_size == static_cast<off_t>(sizeof(SharedMutexBlock)) &&
      ReadAt(fd, offsetof(SharedMutexBlock, Lock), &word)) {
    const uint32_t holder = word & posix::kHolderMask;
    int32_t seat_pid = 0;
    if (holder == 0) {
      pid = 0;
    } else if (ReadAt(fd,
                      static_cast<off_t>(offsetof(SharedMutexBlock, Pids) +
                                         posix::SeatOf(holder) * sizeof(int32_t)),
                      &seat_pid)) {
      pid = seat_pid;
    }
  }
  ::close(fd);
  return pid;
}

bool PeekSectionStart(const std::string& name, void* out, std::size_t length) {
  struct stat status {};
  const int fd = OpenPlainObject(name, &status);
  if (fd < 0) return false;
  const bool read = ::pread(fd, out, length, 0) == static_cast<ssize_t>(length);
  ::close(fd);
  return read;
}

}  // namespace kha::platform
