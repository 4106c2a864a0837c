// Listing every repository in use, lowest slot first. An array that is
// too small is filled to its capacity and the full count reported.
#include <cstdint>
#include <cstring>

#include "kestihistadmin.h"
#include "region/region_view.h"
#include "tables/chain.h"
#include "tables/repository_table.h"

namespace kha {

int32_t GetAllRepositories(const int16_t* capacity, void* records, uint16_t* count) {
  if (HistAdminHeader() == nullptr) return KHA_NOT_MAPPED;
  if (capacity == nullptr || count == nullptr) return KHA_INVALID_POINTER;
  const int32_t room = *capacity;
  if (records == nullptr && room > 0) return KHA_INVALID_POINTER;
  *count = 0;

  auto* into = static_cast<unsigned char*>(records);
  int32_t in_use = 0;
  ForEachRepositoryInUse([&](int16_t, const RepositoryRecord& record) {
    if (in_use < room) {
      std::memcpy(into + static_cast<std::size_t>(in_use) * kRepositoryRecordSize, &record,
                  kRepositoryRecordSize);
    }
    ++in_use;
    return true;
  });
  *count = static_cast<uint16_t>(in_use);
  return in_use > room ? KHA_BUFFER_TOO_SMALL : KHA_OK;
}

}  // namespace kha
