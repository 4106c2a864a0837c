// The C interface: set-up, attach and detach of the region, and the
// HistAdmin mutex.
#include "kestihistadmin.h"
#include "region/attach.h"
#include "region/locking.h"

extern "C" KESTIHISTADMIN_API int32_t KHA_CALL
SetupAndAttachToKestiHistAdminSharedMemory(uint32_t size) {
  return kha::SetupAndAttachRegion(size);
}

extern "C" KESTIHISTADMIN_API int32_t KHA_CALL AttachToKestiHistAdminSharedMemory(void) {
  return kha::AttachRegion();
}

extern "C" KESTIHISTADMIN_API int32_t KHA_CALL DetachFromKestiHistAdminSharedMemory(void) {
  return kha::DetachRegion();
}

extern "C" KESTIHISTADMIN_API void KHA_CALL LockHistAdminMutex(void) {
  kha::TakeHistAdminMutex();
}

extern "C" KESTIHISTADMIN_API void KHA_CALL UnlockHistAdminMutex(void) {
  kha::ReleaseHistAdminMutex();
}
