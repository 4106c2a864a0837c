// Finding a repository by name or by number: a scan of the repository
// table in slot order, the first repository in use that matches wins.
// Names are not unique in the table; the lowest slot answers.
#include <cstdint>

#include "kestihistadmin.h"
#include "region/locking.h"
#include "region/region_view.h"
#include "tables/bounded_string.h"
#include "tables/chain.h"
#include "tables/name_compare.h"
#include "tables/repository_table.h"

namespace kha {

int32_t SearchRepositoryByName(const char* name, uint16_t* slot, uint16_t* number) {
  if (HistAdminHeader() == nullptr) return KHA_NOT_MAPPED;
  if (name == nullptr || slot == nullptr || number == nullptr) return KHA_INVALID_POINTER;
  // The outputs are written before the name is judged: 0 after any failure.
  *slot = 0;
  *number = 0;
  const std::size_t length = BoundedLength(name, kMaxNameLength + 1);
  if (length == 0 || length > kMaxNameLength) return KHA_NAME_TOO_LONG;

  const RepositoryNameKey key(name, length);
  ForEachRepositoryInUse([&](int16_t found, const RepositoryRecord& record) {
    if (!key.Matches(record.RepositoryName)) return true;
    // The slot where the record lies, which is its Index in any region
    // whose slot fields are intact.
    *slot = static_cast<uint16_t>(found);
    *number = record.ReposNumber;
    return false;
  });
  return KHA_OK;
}

int32_t SearchRepositoryByNumber(uint16_t number, uint16_t* slot) {
  if (HistAdminHeader() == nullptr) return KHA_NOT_MAPPED;
  if (slot == nullptr) return KHA_INVALID_POINTER;
  *slot = 0;
  ForEachRepositoryInUse([&](int16_t found, const RepositoryRecord& record) {
    if (record.ReposNumber != number) return true;
    *slot = static_cast<uint16_t>(found);
    return false;
  });
  return KHA_OK;
}

}  // namespace kha

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
