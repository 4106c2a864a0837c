#include "region_names.h"

#include <string_view>

#if defined(KHA_TEST_OBJECT_NAMES)
#include <cstdlib>

#include "platform/testing/name_prefix.h"
#endif

namespace kha::histadmin {

std::string RegionObjectName(const char* windows_name) {
  constexpr std::string_view kGlobalNamespace = "Global\\";
  std::string_view bare(windows_name);
  if (bare.substr(0, kGlobalNamespace.size()) == kGlobalNamespace) {
    bare.remove_prefix(kGlobalNamespace.size());
  }
#if defined(KHA_TEST_OBJECT_NAMES)
  // The tool as the tests run it, on the library's test build.
  if (const char* prefix = std::getenv(platform::kNamePrefixVariable)) {
    return std::string(prefix) + std::string(bare);
  }
#endif
  return std::string(bare);
}

}  // namespace kha::histadmin
