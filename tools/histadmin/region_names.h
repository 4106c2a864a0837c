// The names of the region's kernel objects as this machine spells them,
// without the "Global\" namespace, e.g. "KESTICORE_HISTADMIN_MUTEX" (in
// the tool as the tests run it, with each test's own prefix). The POSIX
// backend keeps each as a file of that name under /dev/shm.
#pragma once

#include <string>

namespace kha::histadmin {

// `windows_name` is one of the kHistAdmin*Name of platform/platform.h.
std::string RegionObjectName(const char* windows_name);

}  // namespace kha::histadmin
