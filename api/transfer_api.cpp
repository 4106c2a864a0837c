// The C interface: the loads from the running historian and from the
// configuration files, and the save. Each holds the mutex for its whole
// length, library calls included.
#include "kestihistadmin.h"
#include "region/locking.h"
#include "transfer/transfer.h"

extern "C" KESTIHISTADMIN_API int32_t KHA_CALL LoadFromMarnIntoKestiHistAdmin(void) {
  kha::HistAdminLock lock;
  return kha::LoadFromMarn();
}

extern "C" KESTIHISTADMIN_API int32_t KHA_CALL LoadFromConfigIntoKestiHistAdmin(void) {
  kha::HistAdminLock lock;
  return kha::LoadFromConfig();
}

extern "C" KESTIHISTADMIN_API int32_t KHA_CALL SaveKestiHistAdminToConfig(void) {
  kha::HistAdminLock lock;
  return kha::SaveToConfig();
}
