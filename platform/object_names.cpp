#include "platform/object_names.h"

#include <cstdlib>
#include <string_view>

#include "platform/platform.h"

namespace kha::platform {
namespace {
constexpr std::string_view kGlobalNamespace = "Global\\";
}  // namespace

std::string ObjectNameWithoutNamespace(const std::string& name) {
  std::string_view view(name);
  if (view.substr(0, kGlobalNamespace.size()) == kGlobalNamespace) {
    view.remove_prefix(kGlobalNamespace.size());
  }
  return std::string(view);
}

std::string PrefixedObjectName(const char* name) {
  const char* prefix = std::getenv(kNamePrefixVariable);
  std::string bare = ObjectNameWithoutNamespace(name);
  std::string result(kGlobalNamespace);
  if (prefix != nullptr) result += prefix;
  result += bare;
  return result;
}

}  // namespace kha::platform
