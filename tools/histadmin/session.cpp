#include "session.h"

#include <chrono>
#include <iostream>
#include <thread>

#include "failure.h"
#include "kestihistadmin.h"
#include "region_obstacles.h"
#include "server_setup_gate.h"

namespace kha::histadmin {

namespace {

// A server between its set-up and the end of its load: nothing this
// command does may land in that moment (server_setup_gate.h).
void WaitForTheServersLoad() {
  bool said = false;
  while (ServerIsSettingUp()) {
    if (!said) {
      std::cerr << "histadmin: waiting for `histadmin serve` to finish loading the region"
                << std::endl;
      said = true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

}  // namespace

Attachment::Attachment() {
  const int32_t code = AttachToKestiHistAdminSharedMemory();
  if (code == 0) {
    WaitForTheServersLoad();
    return;
  }
  const int os_error = LastOsError();  // before the report below makes calls of its own
  // A name taken by another account looks like no region at all.
  if (ReportRegionObstacles()) {
    FailWithCode(code, "cannot attach to the HistAdmin region", os_error);
  }
  // Any other reason (no access, say) is reported with the code.
  if (IsNoRegion(code, os_error)) {
    Fail(
        "no HistAdmin region is running: start `histadmin serve` (where the package is "
        "installed, `systemctl start kestihistadmin`)");
  }
  FailWithCode(code, "cannot attach to the HistAdmin region", os_error);
}

bool IsNoRegion(int32_t code, int os_error) {
  return (code == KHA_OPEN_MUTEX_FAILED || code == KHA_OPEN_MAPPING_FAILED) &&
         NamesNoObject(os_error);
}

Attachment::~Attachment() { (void)DetachFromKestiHistAdminSharedMemory(); }

RegionLock::RegionLock() { LockHistAdminMutex(); }

RegionLock::~RegionLock() { UnlockHistAdminMutex(); }

}  // namespace kha::histadmin
