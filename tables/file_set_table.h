// The file-set table: unlocked forms of the exported operations and the
// marking step of the configuration load. All are called with the
// HistAdmin mutex held; none takes or releases it.
#pragma once

#include <cstdint>

namespace kha {

int32_t AddOneFileSet(uint16_t repository_slot, uint16_t* file_set_number, uint16_t* file_set_slot);
int32_t UpdateOneFileSet(int32_t mode, uint16_t repository_slot, uint16_t file_set_slot,
                         const void* record);
int32_t GetOneFileSet(uint16_t file_set_slot, void* record);
int32_t SearchFileSetByNumber(uint16_t repository_number, uint16_t file_set_number,
                              uint16_t* file_set_slot);
int32_t DeleteOneFileSetForOneRepository(uint16_t repository_slot, uint16_t file_set_number);
int32_t CheckAllFileSetsForAFilePath(uint16_t repository_slot, uint16_t skip_slot, const char* path,
                                     uint16_t* file_set_slot, uint16_t* file_set_number);
int32_t GetAllFileSetsForOneRepository(uint16_t repository_slot, const int16_t* capacity,
                                       void* records, uint16_t* count);
int32_t RepositoryHasOneActiveFileSet(uint16_t repository_slot);
int16_t GetCurrentFileSetForOneRepository(uint16_t repository_slot);

// RecordStatus 1 -> 2 in every file set of the repository's chain.
// Returns the flush's code.
int32_t MarkAllFileSetsForOneRepository(uint16_t repository_slot);

}  // namespace kha
