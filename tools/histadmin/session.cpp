#include "session.h"

#include "failure.h"
#include "kestihistadmin.h"

namespace kha::histadmin {

Attachment::Attachment() {
  const int32_t code = AttachToKestiHistAdminSharedMemory();
  const int os_error = LastOsError();
  // Any other reason (no access, say) is reported with the code.
  if ((code == KHA_OPEN_MUTEX_FAILED || code == KHA_OPEN_MAPPING_FAILED) &&
      NamesNoObject(os_error)) {
    Fail("no HistAdmin region is running: start `histadmin serve`");
  }
  Check(code, "cannot attach to the HistAdmin region");
}

Attachment::~Attachment() { (void)DetachFromKestiHistAdminSharedMemory(); }

RegionLock::RegionLock() { LockHistAdminMutex(); }

RegionLock::~RegionLock() { UnlockHistAdminMutex(); }

}  // namespace kha::histadmin
