// The repository table: unlocked forms of the exported operations and the
// internal scans of the save and the configuration load. All are called
// with the HistAdmin mutex held; none takes or releases it.
#pragma once

#include <cstdint>

namespace kha {

int32_t SearchRepositoryByName(const char* name, uint16_t* slot, uint16_t* number);
int32_t SearchRepositoryByNumber(uint16_t number, uint16_t* slot);
int32_t GetOneRepository(uint16_t slot, void* record);
int32_t AddOneRepository(const char* name, int32_t status, uint16_t* slot, uint16_t* number);
int32_t UpdateOneRepositoryHeader(int32_t mode, uint16_t slot, const void* record);
int32_t DeleteOneRepository(uint16_t slot);
int32_t DeleteAllFileSetForOneRepository(uint16_t slot);
int16_t GetNumberOfRepositoriesToSave();
int32_t GetAllRepositories(const int16_t* capacity, void* records, uint16_t* count);

// The largest ReposNumber in use, compared as signed 16-bit; 0 if none.
int32_t HighestRepositoryNumber();
// Status 1 -> 2 for every repository in use; a repository in use with
// Status 0 loses its file sets. Returns the flush's code.
int32_t MarkRepositoriesForConfigLoad();
// The save's scans: slots (and counts of file sets to save) of the
// repositories to be saved, in slot order, at most `capacity` entries.
int32_t ListRepositorySlotsToSave(int16_t capacity, uint16_t* slots);
int32_t ListFileSetCountsToSave(int16_t capacity, uint16_t* counts);
uint16_t CountFileSetsToSave(int16_t slot);

}  // namespace kha
