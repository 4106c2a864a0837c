// Listing the file sets of one repository in chain order. Unlike the list
// of repositories, an array too small for the whole chain is not touched:
// the caller learns the length and asks again.
#include <cstdint>
#include <cstring>

#include "kestihistadmin.h"
#include "region/region_view.h"
#include "tables/arguments.h"
#include "tables/chain.h"
#include "tables/file_set_table.h"

namespace kha {

int32_t GetAllFileSetsForOneRepository(uint16_t repository_slot, const int16_t* capacity,
                                       void* records, uint16_t* count) {
  if (HistAdminHeader() == nullptr) return KHA_NOT_MAPPED;
  if (capacity == nullptr || count == nullptr) return KHA_INVALID_POINTER;
  const int32_t room = *capacity;
  if (records == nullptr && room > 0) return KHA_INVALID_POINTER;
  const RepositoryRecord* repository = RepositoryInTable(SlotArgument(repository_slot));
  if (repository == nullptr) return KHA_REPOSITORY_NOT_FOUND;
  if (repository->NumberFS > room) {
    *count = static_cast<uint16_t>(repository->NumberFS);
    return KHA_BUFFER_TOO_SMALL;
  }

  // The walk visits at most NumberFS file sets, which the array has room
  // for. Every record is copied whole, whatever its SlotUsage.
  *count = 0;
  auto* into = static_cast<unsigned char*>(records);
  ForEachFileSetInChain(*repository, [&](int16_t, const FileSetRecord& file_set, int32_t position) {
    std::memcpy(into + static_cast<std::size_t>(position - 1) * kFileSetRecordSize, &file_set,
                kFileSetRecordSize);
    *count = static_cast<uint16_t>(position);
    return true;
  });
  return KHA_OK;
}

}  // namespace kha
