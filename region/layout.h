// Sizes and limits of the HistAdmin region (the byte layout itself is in
// include/kestihistadmin.h, where every offset is asserted).
#pragma once

#include <cstddef>
#include <cstdint>

#include "kestihistadmin.h"

namespace kha {

using RegionHeader = KestiHistAdminRegionHeader;
using TuningData = KestiHistAdminTuningData;
using FileSetRecord = KestiHistAdminFileSet;
using RepositoryRecord = KestiHistAdminRepository;

inline constexpr std::size_t kHeaderSize = sizeof(RegionHeader);
inline constexpr std::size_t kTuningOffset = KHA_TUNING_OFFSET;
inline constexpr std::size_t kTuningSize = sizeof(TuningData);
inline constexpr std::size_t kFileSetTableOffset = KHA_FILESET_TABLE_OFFSET;
inline constexpr std::size_t kFileSetRecordSize = sizeof(FileSetRecord);
inline constexpr std::size_t kRepositoryRecordSize = sizeof(RepositoryRecord);
inline constexpr std::size_t kPathFieldSize = KHA_PATH_FIELD_SIZE;
inline constexpr std::size_t kNameFieldSize = KHA_NAME_FIELD_SIZE;
inline constexpr std::size_t kMaxNameLength = KHA_MAX_NAME_LENGTH;

// Slot numbers are signed 16-bit: no table ever holds more slots than this.
inline constexpr int32_t kMaxSlot = 32767;

static_assert(kTuningOffset == kHeaderSize);
static_assert(kFileSetTableOffset == kTuningOffset + kTuningSize);

// Slot-usage values.
inline constexpr int32_t kSlotFree = 0;
inline constexpr int32_t kSlotInUse = 1;

}  // namespace kha
