#include "server_claim.h"

#include "region/tools_door.h"
#include "region_names.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "lock_file.h"
#include "region_obstacles.h"
#endif

namespace kha::histadmin {
namespace {

const std::string kTaken = "a HistAdmin region is already running under another `histadmin serve`";

std::string ClaimName() {
  return RegionObjectName(inspection::FixedObjectName(inspection::RegionObject::kSection)) +
         "_SERVER";
}

}  // namespace

#if defined(_WIN32)

ServerClaim::ServerClaim() : name_("Global\\" + ClaimName()) {
  HANDLE mutex = ::CreateMutexA(nullptr, FALSE, name_.c_str());
  const DWORD error = ::GetLastError();
  if (mutex != nullptr && error != ERROR_ALREADY_EXISTS) {
    handle_ = reinterpret_cast<long long>(mutex);
    held_ = true;
    return;
  }
  if (mutex != nullptr) ::CloseHandle(mutex);
  // Denied: it exists, made by another account.
  refusal_ = mutex != nullptr || error == ERROR_ACCESS_DENIED
                 ? kTaken + "; it holds the named mutex " + name_ + ": stop it first"
                 : "cannot claim the region for this server: error " + std::to_string(error) +
                       " creating the named mutex " + name_;
}

ServerClaim::~ServerClaim() {
  if (handle_ != -1) ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

#else

namespace {

std::string CannotClaim(const std::string& path, int error) {
  std::string text =
      "cannot claim the region for this server: " + path + ": " + std::strerror(error);
  if (const std::string owner = FileOwnerText(path); !owner.empty()) {
    text += " (" + owner + "; its owner or root can remove it)";
  }
  return text;
}

// What stands under the claim's name when it is no plain file, for a
// message: "a FIFO", "a directory", ...
std::string KindOfFile(mode_t mode) {
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISDIR(mode)) return "a directory";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  return "no plain file";
}

// Why the open claim `fd` cannot be locked when it is no plain file (a
// lock on a FIFO or a device claims nothing); empty when it is one.
std::string NoPlainFile(int fd, const std::string& path) {
  struct stat opened {};
  if (::fstat(fd, &opened) != 0) return CannotClaim(path, errno);
  if (S_ISREG(opened.st_mode)) return "";
  std::string text = "cannot claim the region for this server: " + path + " is " +
                     KindOfFile(opened.st_mode) + ", not the plain file of a server's claim";
  if (const std::string owner = FileOwnerText(path); !owner.empty()) text += " (" + owner + ")";
  return text + "; its owner or root can remove it (rm " + path + "), then start again";
}

}  // namespace

ServerClaim::ServerClaim() : name_("/dev/shm/" + ClaimName()) {
  for (int attempt = 0; attempt < 8; ++attempt) {
    const int fd = OpenLockFile(name_);
    if (fd < 0) {
      refusal_ = CannotClaim(name_, errno);
      return;
    }
    if (std::string obstacle = NoPlainFile(fd, name_); !obstacle.empty()) {
      ::close(fd);
      refusal_ = std::move(obstacle);
      return;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int error = errno;
      ::close(fd);
      refusal_ = error == EWOULDBLOCK ? kTaken + "; it holds the lock on " + name_ +
                                            " (`lslocks` shows which process): stop it first"
                                      : CannotClaim(name_, error);
      return;
    }
    if (StillNamed(fd, name_)) {
      handle_ = fd;
      held_ = true;
      return;
    }
    ::close(fd);
  }
  refusal_ = "cannot claim the region for this server: " + name_ + " keeps being replaced";
}

ServerClaim::~ServerClaim() {
  if (handle_ < 0) return;
  // Removed while still locked, so that whoever opened it meanwhile sees
  // that it is gone (StillNamed). In the sticky /dev/shm only its owner
  // may remove it; a file of another account stays, and does no harm.
  ::unlink(name_.c_str());
  ::close(static_cast<int>(handle_));
}

#endif

}  // namespace kha::histadmin
