// Why a set-up or an attach may have failed for good: something that
// another account can leave (or keep) under /dev/shm and that this
// account cannot get past. The library only sees an object that cannot be
// created or opened; who is in the way, and what to do about it, is told
// here.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kha::histadmin {

// One line for each obstacle to a set-up of a region of `setup_size` bytes
// (0: to an attach), naming the file, its owner and mode, and what to do:
// - a name of the region's objects (mutex, section, journal) taken by
//   something this account cannot use: not its own and not open to it for
//   reading and writing, empty (no object of a working region is), a
//   section smaller than asked for, or not a shared-memory object at all;
// - the lock on /dev/shm (around every create, open and close of the
//   region's objects) held by another process throughout a few tries.
// Empty on Windows, whose kernel objects are no files.
std::vector<std::string> RegionObstacles(uint64_t setup_size = 0);

// "owned by uid 1001 (name), mode 0600" of the file `path` (not followed
// when a link); empty when there is none, and on Windows.
std::string FileOwnerText(const std::string& path);

// Prints them on standard error, each after "histadmin: "; true when
// there were any.
bool ReportRegionObstacles(uint64_t setup_size = 0);

}  // namespace kha::histadmin
