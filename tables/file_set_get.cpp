// Reading one file-set record whole, in use or not.
#include <cstdint>
#include <cstring>

#include "kestihistadmin.h"
#include "region/region_view.h"
#include "tables/arguments.h"
#include "tables/file_set_table.h"

namespace kha {

int32_t GetOneFileSet(uint16_t file_set_slot, void* record) {
  if (HistAdminHeader() == nullptr) return KHA_NOT_MAPPED;
  if (record == nullptr) return KHA_INVALID_POINTER;
  const FileSetRecord* stored = FileSetInTable(SlotArgument(file_set_slot));
  if (stored == nullptr) return KHA_INVALID_FILESET_NUMBER;
  std::memcpy(record, stored, kFileSetRecordSize);
  return KHA_OK;
}

}  // namespace kha
