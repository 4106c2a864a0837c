// A command's hold on the HistAdmin region: attached for the command's
// life, and the mutex taken for as long as several calls must see one
// state of the region.
#pragma once

#include <cstdint>

namespace kha::histadmin {

// Attaches to the running region; detaches when it goes. With no region
// running the command fails with a plain explanation. While a server is
// between its set-up and the end of its own load, waits for it (saying so
// on standard error), so that nothing the command does lands in between.
class Attachment {
 public:
  Attachment();
  ~Attachment();
  Attachment(const Attachment&) = delete;
  Attachment& operator=(const Attachment&) = delete;
};

// Whether a failed attach found no region at all (rather than one it may
// not use): `code` from the attach, `os_error` the OS error it left.
bool IsNoRegion(int32_t code, int os_error);

// Holds the HistAdmin mutex (re-entrant) for a scope.
class RegionLock {
 public:
  RegionLock();
  ~RegionLock();
  RegionLock(const RegionLock&) = delete;
  RegionLock& operator=(const RegionLock&) = delete;
};

}  // namespace kha::histadmin
