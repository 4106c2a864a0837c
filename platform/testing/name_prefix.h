// The test build's name prefix: an environment variable whose value is
// put in front of every kernel-object name (after "Global\"). Only the
// library's test build (kestihistadmin_static, kestihistadmin_test) reads
// it; the shipped library always uses the fixed names.
#pragma once

namespace kha::platform {

inline constexpr const char kNamePrefixVariable[] = "KESTIHISTADMIN_NAME_PREFIX";

}  // namespace kha::platform
