// The C interface: the region's header and tuning block.
#include "kestihistadmin.h"
#include "region/header_access.h"
#include "region/locking.h"
#include "region/os_reason.h"

extern "C" KESTIHISTADMIN_API int32_t KHA_CALL GetKestiHistAdminHeader(uint32_t* RegionSize,
                                                                       uint16_t* ReposHighWater,
                                                                       uint16_t* NumberRepos,
                                                                       uint16_t* FSHighWater,
                                                                       uint16_t* NumberFileSets) {
  kha::HistAdminLock lock;
  return kha::GetHeader(RegionSize, ReposHighWater, NumberRepos, FSHighWater, NumberFileSets);
}

extern "C" KESTIHISTADMIN_API int32_t KHA_CALL PutKestiHistAdminHeader(uint32_t RegionSize,
                                                                       int16_t ReposHighWater,
                                                                       int16_t NumberRepos,
                                                                       int16_t FSHighWater,
                                                                       int16_t NumberFileSets) {
  return kha::PassingOnOsReason([&] {
    kha::HistAdminLock lock;
    return kha::PutHeader(RegionSize, ReposHighWater, NumberRepos, FSHighWater, NumberFileSets);
  });
}

extern "C" KESTIHISTADMIN_API int32_t KHA_CALL GetKestiHistAdminTuningData(void* tuning) {
  kha::HistAdminLock lock;
  return kha::GetTuningData(tuning);
}

extern "C" KESTIHISTADMIN_API int32_t KHA_CALL PutKestiHistAdminTuningData(const void* tuning) {
  return kha::PassingOnOsReason([&] {
    kha::HistAdminLock lock;
    return kha::PutTuningData(tuning);
  });
}
