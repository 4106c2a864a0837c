// Where the region's records lie and how much room is left between the
// two tables: the arithmetic of the layout, written once. Pure functions
// of header values, in 64 bits so that no value read from the region can
// make them wrap; whether an address also lies inside the mapped view is
// the business of region/table_geometry.h.
#pragma once

#include <cstdint>

#include "region/layout.h"

namespace kha {

// Repository slot k lies at RegionSize - k * 1144: slot 1 ends the region
// and the table grows downward.
constexpr int64_t RepositoryRecordOffset(int64_t region_size, int64_t slot) {
  return region_size - slot * static_cast<int64_t>(kRepositoryRecordSize);
}

// File-set slot k lies at 692 + (k - 1) * 600: the table grows upward
// from the end of the tuning block.
constexpr int64_t FileSetRecordOffset(int64_t slot) {
  return static_cast<int64_t>(kFileSetTableOffset) +
         (slot - 1) * static_cast<int64_t>(kFileSetRecordSize);
}

// Bytes between the end of file-set slot `fs_high_water` and the start of
// repository slot `repos_high_water`; negative when the tables overlap.
constexpr int64_t BytesBetweenTables(int64_t region_size, int64_t repos_high_water,
                                     int64_t fs_high_water) {
  return RepositoryRecordOffset(region_size, repos_high_water) -
         FileSetRecordOffset(fs_high_water + 1);
}

// Both high-water marks are counts (not negative) and the tables they
// reach do not overlap.
constexpr bool TablesLieApart(int64_t region_size, int64_t repos_high_water,
                              int64_t fs_high_water) {
  return repos_high_water >= 0 && fs_high_water >= 0 &&
         BytesBetweenTables(region_size, repos_high_water, fs_high_water) >= 0;
}

// The free space from which new slots are carved: the bytes between the
// tables, 0 when the marks do not describe two tables lying apart.
constexpr uint32_t FreeSpaceBetweenTables(int64_t region_size, int64_t repos_high_water,
                                          int64_t fs_high_water) {
  if (!TablesLieApart(region_size, repos_high_water, fs_high_water)) return 0;
  const int64_t free_bytes = BytesBetweenTables(region_size, repos_high_water, fs_high_water);
  return free_bytes > int64_t{UINT32_MAX} ? UINT32_MAX : static_cast<uint32_t>(free_bytes);
}

}  // namespace kha
