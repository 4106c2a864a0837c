#include "unusable_objects.h"

#include <iostream>

#include "platform/platform.h"
#include "region_names.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#endif

namespace kha::histadmin {

#if defined(_WIN32)

std::vector<std::string> UnusableRegionObjects() { return {}; }

#else

namespace {

constexpr const char kObjectDirectory[] = "/dev/shm/";

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

std::string ModeText(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

// Why `path` cannot serve as one of the region's objects; empty when it can
// (or when nothing has the name).
std::string Unusable(const std::string& path, const struct stat& status) {
  if (!S_ISREG(status.st_mode)) return "it is not a shared-memory object";
  if (status.st_uid != ::geteuid() &&
      ::faccessat(AT_FDCWD, path.c_str(), R_OK | W_OK, AT_EACCESS) != 0) {
    return "this account may not read and write it";
  }
  if (status.st_size == 0) return "it is empty, as no object of a working region is";
  return "";
}

}  // namespace

std::vector<std::string> UnusableRegionObjects() {
  std::vector<std::string> lines;
  for (const char* name : {platform::kHistAdminMutexName, platform::kHistAdminSectionName,
                           platform::kHistAdminJournalName}) {
    const std::string path = kObjectDirectory + RegionObjectName(name);
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) continue;
    const std::string reason = Unusable(path, status);
    if (reason.empty()) continue;
    lines.push_back(path + " is owned by " + OwnerText(status.st_uid) + ", mode " +
                    ModeText(status.st_mode) + ", " + std::to_string(status.st_size) +
                    " bytes: " + reason +
                    ", so no region can be set up or attached here. If it "
                    "is left over, its owner or root can remove it (rm " +
                    path +
                    "); `lslocks` "
                    "and `fuser -v " +
                    path +
                    "` show who holds it. Otherwise run histadmin as "
                    "an account that may use it.");
  }
  return lines;
}

#endif

bool ReportUnusableRegionObjects() {
  const std::vector<std::string> lines = UnusableRegionObjects();
  for (const std::string& line : lines) std::cerr << "histadmin: " << line << '\n';
  return !lines.empty();
}

}  // namespace kha::histadmin
