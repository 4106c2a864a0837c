#include "session.h"

#include "failure.h"
#include "kestihistadmin.h"
#include "region_obstacles.h"

namespace kha::histadmin {

Attachment::Attachment() {
  const int32_t code = AttachToKestiHistAdminSharedMemory();
  if (code == 0) return;
  // A name taken by another account looks like no region at all.
  if (ReportRegionObstacles()) FailWithCode(code, "cannot attach to the HistAdmin region");
  if (code == KHA_OPEN_MUTEX_FAILED || code == KHA_OPEN_MAPPING_FAILED) {
    Fail("no HistAdmin region is running: start `histadmin serve`");
  }
  Check(code, "cannot attach to the HistAdmin region");
}

Attachment::~Attachment() { (void)DetachFromKestiHistAdminSharedMemory(); }

RegionLock::RegionLock() { LockHistAdminMutex(); }

RegionLock::~RegionLock() { UnlockHistAdminMutex(); }

}  // namespace kha::histadmin
