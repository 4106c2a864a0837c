#include "platform/object_names.h"

#include <string_view>

namespace kha::platform {

std::string ObjectNameWithoutNamespace(const std::string& name) {
  constexpr std::string_view kGlobalNamespace = "Global\\";
  std::string_view view(name);
  if (view.substr(0, kGlobalNamespace.size()) == kGlobalNamespace) {
    view.remove_prefix(kGlobalNamespace.size());
  }
  return std::string(view);
}

}  // namespace kha::platform
