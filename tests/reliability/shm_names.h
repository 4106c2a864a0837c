// The names of this test process's kernel objects that exist in /dev/shm
// (every name starts with the test's own prefix).
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/testing/name_prefix.h"

namespace kha::test::reliability {

inline std::vector<std::string> ObjectNamesInDevShm() {
  std::vector<std::string> names;
  const char* prefix = std::getenv(platform::kNamePrefixVariable);
  if (prefix == nullptr || *prefix == '\0') return names;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/dev/shm", error)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(prefix, 0) == 0) names.push_back(name);
  }
  return names;
}

}  // namespace kha::test::reliability
