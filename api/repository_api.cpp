// The C interface: the repository table.
#include "kestihistadmin.h"
#include "region/locking.h"
#include "region/os_reason.h"
#include "tables/repository_table.h"

extern "C" KESTIHISTADMIN_API int32_t KHA_CALL
SearchKestiHistAdminRepositoryByName(const char* name, uint16_t* slot, uint16_t* number) {
  kha::HistAdminLock lock;
  return kha::SearchRepositoryByName(name, slot, number);
}

extern "C" KESTIHISTADMIN_API int32_t KHA_CALL
SearchKestiHistAdminRepositoryByNumber(uint16_t number, uint16_t* slot) {
  kha::HistAdminLock lock;
  return kha::SearchRepositoryByNumber(number, slot);
}

extern "C" KESTIHISTADMIN_API int32_t KHA_CALL GetKestiHistAdminOneRepository(uint16_t slot,
                                                                              void* record) {
  kha::HistAdminLock lock;
  return kha::GetOneRepository(slot, record);
}

extern "C" KESTIHISTADMIN_API int32_t KHA_CALL AddKestiHistAdminOneRepository(const char* name,
                                                                              int32_t status,
                                                                              uint16_t* slot,
                                                                              uint16_t* number) {
  return kha::PassingOnOsReason([&] {
    kha::HistAdminLock lock;
    return kha::AddOneRepository(name, status, slot, number);
  });
}

extern "C" KESTIHISTADMIN_API int32_t KHA_CALL
UpdateKestiHistAdminOneRepositoryHeader(int32_t mode, uint16_t slot, const void* record) {
  return kha::PassingOnOsReason([&] {
    kha::HistAdminLock lock;
    return kha::UpdateOneRepositoryHeader(mode, slot, record);
  });
}

extern "C" KESTIHISTADMIN_API int32_t KHA_CALL DeleteKestiHistAdminOneRepository(uint16_t slot) {
  return kha::PassingOnOsReason([&] {
    kha::HistAdminLock lock;
    return kha::DeleteOneRepository(slot);
  });
}

extern "C" KESTIHISTADMIN_API int16_t KHA_CALL GetKestiHistAdminNumberOfRepositoriesToSave(void) {
  kha::HistAdminLock lock;
  return kha::GetNumberOfRepositoriesToSave();
}

extern "C" KESTIHISTADMIN_API int32_t KHA_CALL
GetKestiHistAdminAllRepositories(const int16_t* capacity, void* records, uint16_t* count) {
  kha::HistAdminLock lock;
  return kha::GetAllRepositories(capacity, records, count);
}

extern "C" KESTIHISTADMIN_API int32_t KHA_CALL
DeleteKestiHistAdminAllFileSetForOneRepository(uint16_t slot) {
  return kha::PassingOnOsReason([&] {
    kha::HistAdminLock lock;
    return kha::DeleteAllFileSetForOneRepository(slot);
  });
}
