// The HistAdmin mutex, as the exported facade and the internal code take it.
#pragma once

namespace kha {

// Takes the HistAdmin mutex (what LockHistAdminMutex does). True when a
// dead owner had abandoned it; the tables, if mapped in this process, have
// then been repaired (RepairHistAdminRegion). Does nothing when the process
// holds no mutex handle.
bool TakeHistAdminMutex() noexcept;

// Lets go of one hold of the HistAdmin mutex (what UnlockHistAdminMutex
// does). Does nothing when the process holds no mutex handle.
void ReleaseHistAdminMutex() noexcept;

// Holds the HistAdmin mutex for a scope. Does nothing when the process is
// not attached.
class HistAdminLock {
 public:
  HistAdminLock() noexcept { (void)TakeHistAdminMutex(); }
  ~HistAdminLock() { ReleaseHistAdminMutex(); }
  HistAdminLock(const HistAdminLock&) = delete;
  HistAdminLock& operator=(const HistAdminLock&) = delete;
};

}  // namespace kha
