// What the four status values (repository Status, file-set RecordStatus)
// mean to the table operations.
#pragma once

#include <cstdint>

#include "kestihistadmin.h"
#include "region/layout.h"

namespace kha {

// Written to the configuration files by the save: 1 and 3.
constexpr bool IsToBeSaved(int32_t status) {
  return status == KHA_STATUS_ACTIVE || status == KHA_STATUS_NEW;
}

// A file set in use that the save writes: RecordStatus 1 or 3.
inline bool IsFileSetToBeSaved(const FileSetRecord& file_set) {
  return file_set.SlotUsage == kSlotInUse && IsToBeSaved(file_set.RecordStatus);
}

// A file set the historian may be writing to: 1 and 2.
constexpr bool IsActiveFileSet(int32_t status) {
  return status == KHA_STATUS_ACTIVE || status == KHA_STATUS_MARKED;
}

}  // namespace kha
