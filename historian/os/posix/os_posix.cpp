#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "os/os.h"

namespace kha::historian::os {

bool CreateNewFile(const std::filesystem::path& path, FileHandle* file) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  *file = fd;
  return true;
}

std::ptrdiff_t WriteToFile(FileHandle file, const char* data, std::size_t size) {
  for (;;) {
    const ssize_t written = ::write(static_cast<int>(file), data, size);
    if (written >= 0 || errno != EINTR) return written;
  }
}

bool SyncFile(FileHandle file) { return ::fsync(static_cast<int>(file)) == 0; }

bool CloseFile(FileHandle file) { return ::close(static_cast<int>(file)) == 0; }

bool RenameOver(const std::filesystem::path& from, const std::filesystem::path& to) {
  return std::rename(from.c_str(), to.c_str()) == 0;
}

bool SyncDirectory(const std::filesystem::path& directory) {
  const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool synced = ::fsync(fd) == 0;
  return ::close(fd) == 0 && synced;
}

bool RemoveFile(const std::filesystem::path& path) { return ::unlink(path.c_str()) == 0; }

void KeepAttributesOf(const std::filesystem::path& model, FileHandle file) {
  struct stat old {};
  if (::stat(model.c_str(), &old) != 0) return;
  const int fd = static_cast<int>(file);
  mode_t mode = old.st_mode & 07777;
  if (::fchown(fd, old.st_uid, old.st_gid) != 0 &&
      ::fchown(fd, static_cast<uid_t>(-1), old.st_gid) != 0) {
    mode = (mode & ~static_cast<mode_t>(070)) | ((mode & 07) << 3);
  }
  (void)::fchmod(fd, mode);
}

std::string HostName() {
  char name[HOST_NAME_MAX + 1] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

std::filesystem::path DefaultConfigDirectory() { return "/var/lib/kesti/history"; }

std::string LastErrorText() {
  const int error = errno;
  if (error == 0) return "the system gave no reason";
  return std::strerror(error);
}

}  // namespace kha::historian::os
