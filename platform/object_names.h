// Kernel-object names as a backend uses them.
#pragma once

#include <string>

namespace kha::platform {

// The name with the test prefix of kNamePrefixVariable put in after the
// "Global\" namespace, e.g. "Global\\T123_KESTICORE_HISTADMIN". Unchanged
// when the variable is unset or empty.
std::string PrefixedObjectName(const char* name);

// The part after "Global\" (the whole name when it has no namespace).
std::string ObjectNameWithoutNamespace(const std::string& name);

}  // namespace kha::platform
