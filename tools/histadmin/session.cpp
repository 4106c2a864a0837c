#include "session.h"

#include "failure.h"
#include "kestihistadmin.h"
#include "region_obstacles.h"

namespace kha::histadmin {

Attachment::Attachment() {
  const int32_t code = AttachToKestiHistAdminSharedMemory();
  if (code == 0) return;
  const int os_error = LastOsError();  // before the report below makes calls of its own
  // A name taken by another account looks like no region at all.
  if (ReportRegionObstacles()) {
    FailWithCode(code, "cannot attach to the HistAdmin region", os_error);
  }
  // Any other reason (no access, say) is reported with the code.
  if ((code == KHA_OPEN_MUTEX_FAILED || code == KHA_OPEN_MAPPING_FAILED) &&
      NamesNoObject(os_error)) {
    Fail(
        "no HistAdmin region is running: start `histadmin serve` (where the package is "
        "installed, `systemctl start kestihistadmin`)");
  }
  FailWithCode(code, "cannot attach to the HistAdmin region", os_error);
}

Attachment::~Attachment() { (void)DetachFromKestiHistAdminSharedMemory(); }

RegionLock::RegionLock() { LockHistAdminMutex(); }

RegionLock::~RegionLock() { UnlockHistAdminMutex(); }

}  // namespace kha::histadmin
