// The test build's object names: the fixed ones with the prefix of
// kNamePrefixVariable put in after "Global\", e.g.
// "Global\\khatest123_KESTICORE_HISTADMIN". Unchanged when the variable is
// unset or empty.
#include <cstdlib>

#include "platform/object_names.h"
#include "platform/testing/name_prefix.h"

namespace kha::platform {

std::string ObjectName(const char* name) {
  const char* prefix = std::getenv(kNamePrefixVariable);
  std::string result = "Global\\";
  if (prefix != nullptr) result += prefix;
  result += ObjectNameWithoutNamespace(name);
  return result;
}

}  // namespace kha::platform
