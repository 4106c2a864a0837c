// The HistAdmin mutex, as the exported facade and the internal code take it.
#pragma once

namespace kha {

// Takes the HistAdmin mutex as LockHistAdminMutex does; a fresh take rolls
// back the unit of a holder that died, if this process has the view and
// the journal mapped (TakeOverJournal). Does nothing when the process
// holds no mutex handle. False when the wait failed: the hold must still
// be released, and until then this thread finds no region.
bool TakeHistAdminMutex() noexcept;

// Lets go of one hold of the HistAdmin mutex (what UnlockHistAdminMutex
// does). Does nothing when the process holds no mutex handle.
void ReleaseHistAdminMutex() noexcept;

// Holds the HistAdmin mutex for a scope. Does nothing when the process is
// not attached.
class HistAdminLock {
 public:
  HistAdminLock() noexcept { TakeHistAdminMutex(); }
  ~HistAdminLock() { ReleaseHistAdminMutex(); }
  HistAdminLock(const HistAdminLock&) = delete;
  HistAdminLock& operator=(const HistAdminLock&) = delete;
};

}  // namespace kha
