// The C interface: the loads from the running historian and from the
// configuration files, and the save. Each holds the mutex for its whole
// length, library calls included.
#include "kestihistadmin.h"
#include "region/locking.h"
#include "region/os_reason.h"
#include "transfer/transfer.h"

extern "C" KESTIHISTADMIN_API int32_t KHA_CALL LoadFromMarnIntoKestiHistAdmin(void) {
  return kha::PassingOnOsReason([&] {
    kha::HistAdminLock lock;
    return kha::LoadFromMarn();
  });
}

extern "C" KESTIHISTADMIN_API int32_t KHA_CALL LoadFromConfigIntoKestiHistAdmin(void) {
  return kha::PassingOnOsReason([&] {
    kha::HistAdminLock lock;
    return kha::LoadFromConfig();
  });
}

extern "C" KESTIHISTADMIN_API int32_t KHA_CALL SaveKestiHistAdminToConfig(void) {
  return kha::PassingOnOsReason([&] {
    kha::HistAdminLock lock;
    return kha::SaveToConfig();
  });
}
