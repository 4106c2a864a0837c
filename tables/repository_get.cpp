// Reading one repository record whole, in use or not.
#include <cstdint>
#include <cstring>

#include "kestihistadmin.h"
#include "region/region_view.h"
#include "tables/arguments.h"
#include "tables/repository_table.h"

namespace kha {

int32_t GetOneRepository(uint16_t slot, void* record) {
  if (HistAdminHeader() == nullptr) return KHA_NOT_MAPPED;
  if (record == nullptr) return KHA_INVALID_POINTER;
  const RepositoryRecord* stored = RepositoryInTable(SlotArgument(slot));
  if (stored == nullptr) return KHA_REPOSITORY_NOT_FOUND;
  std::memcpy(record, stored, kRepositoryRecordSize);
  return KHA_OK;
}

}  // namespace kha
