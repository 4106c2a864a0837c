#include "region_obstacles.h"

#include <iostream>

#include "region/tools_door.h"
#include "region_names.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <thread>
#endif

namespace kha::histadmin {

#if defined(_WIN32)

std::vector<std::string> RegionObstacles(uint64_t) { return {}; }

std::string FileOwnerText(const std::string&) { return ""; }

#else

namespace {

constexpr const char kObjectDirectory[] = "/dev/shm";

std::string OwnerText(uid_t uid) {
  std::string text = "uid " + std::to_string(uid);
  passwd entry{};
  passwd* found = nullptr;
  char buffer[1024];
  if (::getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr) {
    text += " (" + std::string(found->pw_name) + ")";
  }
  return text;
}

std::string OwnerAndMode(const struct stat& status) {
  char mode[8];
  std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(status.st_mode & 07777));
  return "owned by " + OwnerText(status.st_uid) + ", mode " + mode;
}

// Why `path` cannot serve as the region's `object`, for a set-up of
// `setup_size` bytes (0: for an attach); empty when it can.
std::string Unusable(const std::string& path, const struct stat& status,
                     inspection::RegionObject object, uint64_t setup_size) {
  if (!S_ISREG(status.st_mode)) return "it is not a shared-memory object";
  if (status.st_uid != ::geteuid() &&
      ::faccessat(AT_FDCWD, path.c_str(), R_OK | W_OK, AT_EACCESS) != 0) {
    return "this account may not read and write it";
  }
  if (setup_size > 0 && status.st_uid != ::geteuid() && status.st_uid != 0) {
    return "it belongs to another account, and a set-up takes only objects of its own account "
           "or root's (whoever made them beforehand could remove them under the region it "
           "serves)";
  }
  if (status.st_size == 0) return "it is empty, as no object of a working region is";
  if (object == inspection::RegionObject::kSection &&
      static_cast<uint64_t>(status.st_size) < setup_size) {
    return "it is smaller than the " + std::to_string(setup_size) + " bytes asked for";
  }
  const uint64_t mutex_bytes = inspection::MutexObjectBytes();
  if (object == inspection::RegionObject::kMutex && mutex_bytes != 0 &&
      static_cast<uint64_t>(status.st_size) != mutex_bytes) {
    return "this build's mutex object has " + std::to_string(mutex_bytes) +
           " bytes: another build of the library made it (stop the processes of that build)";
  }
  return "";
}

// Whether another process holds the lock on the directory through every
// one of a few tries over some 50 ms (it is held for moments only by
// whoever follows the rules).
bool DirectoryLockedByAnother() {
  const int fd = ::open(kObjectDirectory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  bool held = true;
  for (int attempt = 0; attempt < 5 && held; ++attempt) {
    if (attempt > 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    held = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  }
  ::close(fd);  // drops the lock if it was taken
  return held;
}

}  // namespace

std::vector<std::string> RegionObstacles(uint64_t setup_size) {
  std::vector<std::string> lines;
  for (const inspection::RegionObject object : inspection::kRegionObjects) {
    const std::string path =
        std::string(kObjectDirectory) + "/" + RegionObjectName(inspection::FixedObjectName(object));
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) continue;
    const std::string reason = Unusable(path, status, object, setup_size);
    if (reason.empty()) continue;
    std::string line = path + " is " + OwnerAndMode(status) + ", " + std::to_string(status.st_size);
    line += " bytes: " + reason +
            (setup_size > 0 ? ", so no region can be set up here. "
                            : ", so the region cannot be attached here. ");
    line += "If it is left over, its owner or root can remove it (rm " + path + "); ";
    line += "`lslocks` and `fuser -v " + path + "` show who holds it. ";
    line += "Otherwise run histadmin as an account that may use it.";
    lines.push_back(line);
  }
  if (DirectoryLockedByAnother()) {
    lines.push_back(std::string("another process holds the lock on ") + kObjectDirectory +
                    " that the region's objects are created, opened and closed under, so set-ups "
                    "and attaches give up after a few seconds; `lslocks` shows which process "
                    "holds it.");
  }
  return lines;
}

std::string FileOwnerText(const std::string& path) {
  struct stat status {};
  return ::lstat(path.c_str(), &status) == 0 ? OwnerAndMode(status) : "";
}

#endif

bool ReportRegionObstacles(uint64_t setup_size) {
  const std::vector<std::string> lines = RegionObstacles(setup_size);
  for (const std::string& line : lines) std::cerr << "histadmin: " << line << '\n';
  return !lines.empty();
}

}  // namespace kha::histadmin
