// The HistAdmin mutex, as the exported facade and the internal code take it.
#pragma once

#include "kestihistadmin.h"

namespace kha {

// Takes the HistAdmin mutex as LockHistAdminMutex does; a fresh take rolls
// back the unit of a holder that died, if this process has the view and
// the journal mapped (TakeOverJournal).
void TakeHistAdminMutex() noexcept;

// Holds the HistAdmin mutex for a scope (LockHistAdminMutex /
// UnlockHistAdminMutex). Does nothing when the process is not attached.
class HistAdminLock {
 public:
  HistAdminLock() noexcept { LockHistAdminMutex(); }
  ~HistAdminLock() { UnlockHistAdminMutex(); }
  HistAdminLock(const HistAdminLock&) = delete;
  HistAdminLock& operator=(const HistAdminLock&) = delete;
};

}  // namespace kha
