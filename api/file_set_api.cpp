// The C interface: the file-set table.
#include "kestihistadmin.h"
#include "region/locking.h"
#include "region/os_reason.h"
#include "tables/file_set_table.h"

extern "C" KESTIHISTADMIN_API int32_t KHA_CALL AddKestiHistAdminOneFileSet(uint16_t reposSlot,
                                                                           uint16_t* fileSetNumber,
                                                                           uint16_t* fileSetSlot) {
  return kha::PassingOnOsReason([&] {
    kha::HistAdminLock lock;
    return kha::AddOneFileSet(reposSlot, fileSetNumber, fileSetSlot);
  });
}

extern "C" KESTIHISTADMIN_API int32_t KHA_CALL UpdateKestiHistAdminOneFileSet(int32_t mode,
                                                                              uint16_t reposSlot,
                                                                              uint16_t fileSetSlot,
                                                                              const void* record) {
  return kha::PassingOnOsReason([&] {
    kha::HistAdminLock lock;
    return kha::UpdateOneFileSet(mode, reposSlot, fileSetSlot, record);
  });
}

extern "C" KESTIHISTADMIN_API int32_t KHA_CALL GetKestiHistAdminOneFileSet(uint16_t fileSetSlot,
                                                                           void* record) {
  kha::HistAdminLock lock;
  return kha::GetOneFileSet(fileSetSlot, record);
}

extern "C" KESTIHISTADMIN_API int32_t KHA_CALL SearchKestiHistAdminFileSetByNumber(
    uint16_t reposNumber, uint16_t fileSetNumber, uint16_t* fileSetSlot) {
  kha::HistAdminLock lock;
  return kha::SearchFileSetByNumber(reposNumber, fileSetNumber, fileSetSlot);
}

extern "C" KESTIHISTADMIN_API int32_t KHA_CALL
DeleteKestiHistAdminOneFileSetForOneRepository(uint16_t reposSlot, uint16_t fileSetNumber) {
  return kha::PassingOnOsReason([&] {
    kha::HistAdminLock lock;
    return kha::DeleteOneFileSetForOneRepository(reposSlot, fileSetNumber);
  });
}

extern "C" KESTIHISTADMIN_API int32_t KHA_CALL
CheckKestiHistAdminAllFileSetsForAFilePath(uint16_t reposSlot, uint16_t skipSlot, const char* path,
                                           uint16_t* fileSetSlot, uint16_t* fileSetNumber) {
  kha::HistAdminLock lock;
  return kha::CheckAllFileSetsForAFilePath(reposSlot, skipSlot, path, fileSetSlot, fileSetNumber);
}

extern "C" KESTIHISTADMIN_API int32_t KHA_CALL GetKestiHistAdminAllFileSetsForOneRepository(
    uint16_t reposSlot, const int16_t* capacity, void* records, uint16_t* count) {
  kha::HistAdminLock lock;
  return kha::GetAllFileSetsForOneRepository(reposSlot, capacity, records, count);
}

extern "C" KESTIHISTADMIN_API int32_t KHA_CALL RepositoryHasOneActiveFileSet(uint16_t reposSlot) {
  kha::HistAdminLock lock;
  return kha::RepositoryHasOneActiveFileSet(reposSlot);
}

extern "C" KESTIHISTADMIN_API int16_t KHA_CALL
GetKestiHistAdminCurrentFileSetForOneRepository(uint16_t reposSlot) {
  kha::HistAdminLock lock;
  return kha::GetCurrentFileSetForOneRepository(reposSlot);
}
