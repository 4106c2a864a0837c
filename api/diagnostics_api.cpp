// The C interface: the message of a result code and the region dump.
#include "diag/region_dump.h"
#include "kestihistadmin.h"
#include "region/error_messages.h"
#include "region/locking.h"

extern "C" KESTIHISTADMIN_API void KHA_CALL GetKestiHistAdminErrorMessage(int32_t code,
                                                                          char* buffer,
                                                                          uint32_t* length) {
  kha::CopyErrorMessage(code, buffer, length);
}

extern "C" KESTIHISTADMIN_API void KHA_CALL PrintKestiHistAdminAllRepository(void) {
  kha::HistAdminLock lock;
  kha::PrintAllRepositories();
}
