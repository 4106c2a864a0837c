#include "region_names.h"

#include <cstdlib>
#include <string_view>

#include "platform/platform.h"

namespace kha::histadmin {

std::string RegionObjectName(const char* windows_name) {
  constexpr std::string_view kGlobalNamespace = "Global\\";
  std::string_view bare(windows_name);
  if (bare.substr(0, kGlobalNamespace.size()) == kGlobalNamespace) {
    bare.remove_prefix(kGlobalNamespace.size());
  }
  const char* prefix = std::getenv(platform::kNamePrefixVariable);
  return std::string(prefix != nullptr ? prefix : "") + std::string(bare);
}

}  // namespace kha::histadmin
