#include "support/live_objects.h"

#include <cstdlib>

#include "platform/object_names.h"
#include "platform/platform.h"
#include "platform/testing/name_prefix.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <filesystem>
#endif

namespace kha::test {

#if defined(_WIN32)

std::vector<std::string> LiveHistAdminObjects() {
  std::vector<std::string> names;
  const std::string mutex = platform::ObjectName(platform::kHistAdminMutexName);
  if (HANDLE handle = OpenMutexA(SYNCHRONIZE, FALSE, mutex.c_str())) {
    CloseHandle(handle);
    names.push_back(mutex);
  }
  const std::string section = platform::ObjectName(platform::kHistAdminSectionName);
  if (HANDLE handle = OpenFileMappingA(FILE_MAP_READ, FALSE, section.c_str())) {
    CloseHandle(handle);
    names.push_back(section);
  }
  return names;
}

#else

std::vector<std::string> LiveHistAdminObjects() {
  const char* prefix = std::getenv(platform::kNamePrefixVariable);
  std::vector<std::string> names;
  if (prefix == nullptr || *prefix == '\0') return names;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/dev/shm", error)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(prefix, 0) == 0) names.push_back(name);
  }
  return names;
}

#endif

}  // namespace kha::test
