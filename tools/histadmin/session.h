// A command's hold on the HistAdmin region: attached for the command's
// life, and the mutex taken for as long as several calls must see one
// state of the region.
#pragma once

namespace kha::histadmin {

// Attaches to the running region; detaches when it goes. With no region
// running the command fails with a plain explanation.
class Attachment {
 public:
  Attachment();
  ~Attachment();
  Attachment(const Attachment&) = delete;
  Attachment& operator=(const Attachment&) = delete;
};

// Holds the HistAdmin mutex (re-entrant) for a scope.
class RegionLock {
 public:
  RegionLock();
  ~RegionLock();
  RegionLock(const RegionLock&) = delete;
  RegionLock& operator=(const RegionLock&) = delete;
};

}  // namespace kha::histadmin
