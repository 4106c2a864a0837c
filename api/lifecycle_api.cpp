// The C interface: set-up, attach and detach of the region, and the
// HistAdmin mutex. A failure at a kernel-object step leaves its OS error
// for the caller (os_reason.h), as do the operations that end with a flush.
#include "kestihistadmin.h"
#include "region/attach.h"
#include "region/locking.h"
#include "region/os_reason.h"

extern "C" KESTIHISTADMIN_API int32_t KHA_CALL
SetupAndAttachToKestiHistAdminSharedMemory(uint32_t size) {
  return kha::PassingOnOsReason([&] { return kha::SetupAndAttachRegion(size); });
}

extern "C" KESTIHISTADMIN_API int32_t KHA_CALL AttachToKestiHistAdminSharedMemory(void) {
  return kha::PassingOnOsReason([] { return kha::AttachRegion(); });
}

extern "C" KESTIHISTADMIN_API int32_t KHA_CALL DetachFromKestiHistAdminSharedMemory(void) {
  return kha::PassingOnOsReason([] { return kha::DetachRegion(); });
}

extern "C" KESTIHISTADMIN_API void KHA_CALL LockHistAdminMutex(void) { kha::TakeHistAdminMutex(); }

extern "C" KESTIHISTADMIN_API void KHA_CALL UnlockHistAdminMutex(void) {
  kha::ReleaseHistAdminMutex();
}
