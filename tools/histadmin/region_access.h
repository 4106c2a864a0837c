// Reading the region through the exported interface, for the commands.
// Callers that need several reads to agree hold a RegionLock around them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "kestihistadmin.h"

namespace kha::histadmin {

KestiHistAdminRegionHeader ReadHeader();
KestiHistAdminTuningData ReadTuning();

// Free bytes between the two tables, as the header describes them (0 when
// the header is inconsistent).
uint32_t FreeSpaceOf(const KestiHistAdminRegionHeader& header);

KestiHistAdminRepository ReadRepository(uint16_t slot);
KestiHistAdminFileSet ReadFileSet(uint16_t slot);

// Every repository in use, lowest slot first.
std::vector<KestiHistAdminRepository> ReadAllRepositories();

// The file sets of a repository in chain order.
std::vector<KestiHistAdminFileSet> ReadFileSets(uint16_t repository_slot);

struct FoundRepository {
  uint16_t slot;
  uint16_t number;
};

// The repository named `name` (ASCII case ignored); fails when there is
// none.
FoundRepository FindRepository(const std::string& name);

// The slot of file set `number` of a repository; fails when it has none.
uint16_t FindFileSet(const FoundRepository& repository, const std::string& name, uint16_t number);

}  // namespace kha::histadmin
