// Unlocked forms of the header and tuning-block accessors; called with the
// HistAdmin mutex held.
#pragma once

#include <cstdint>

namespace kha {

int32_t GetHeader(uint32_t* region_size, uint16_t* repos_high_water, uint16_t* number_repos,
                  uint16_t* fs_high_water, uint16_t* number_file_sets);
int32_t PutHeader(uint32_t region_size, int16_t repos_high_water, int16_t number_repos,
                  int16_t fs_high_water, int16_t number_file_sets);
int32_t GetTuningData(void* tuning);
int32_t PutTuningData(const void* tuning);

}  // namespace kha
