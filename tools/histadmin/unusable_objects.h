// Why a set-up or an attach may have failed for good: a name of the
// region's objects taken by a file that this account cannot use, as
// another account can leave (or keep) under /dev/shm. The library only
// sees that the object cannot be opened; the owner of the name and what to
// do about it are told here.
#pragma once

#include <string>
#include <vector>

namespace kha::histadmin {

// One line for each of the region's objects (mutex, section, journal)
// whose name is taken by something this account cannot use: not its own
// and not open to it for reading and writing, empty (no object of the
// region ever is), or not a shared-memory object at all. Each line names
// the file, its owner and mode, and what to do. Empty on Windows, whose
// kernel objects are no files.
std::vector<std::string> UnusableRegionObjects();

// Prints them on standard error, each after "histadmin: "; true when
// there were any.
bool ReportUnusableRegionObjects();

}  // namespace kha::histadmin
