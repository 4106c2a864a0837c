#include "region_access.h"

#include <algorithm>
#include <limits>

#include "failure.h"
#include "region/tools_door.h"

namespace kha::histadmin {

KestiHistAdminRegionHeader ReadHeader() {
  uint32_t size = 0;
  uint16_t repos_high_water = 0, number_repos = 0, fs_high_water = 0, number_file_sets = 0;
  Check(GetKestiHistAdminHeader(&size, &repos_high_water, &number_repos, &fs_high_water,
                                &number_file_sets),
        "cannot read the region header");
  KestiHistAdminRegionHeader header{};
  header.RegionSize = size;
  header.ReposHighWater = static_cast<int16_t>(repos_high_water);
  header.NumberRepos = number_repos;
  header.FSHighWater = static_cast<int16_t>(fs_high_water);
  header.NumberFileSets = number_file_sets;
  return header;
}

KestiHistAdminTuningData ReadTuning() {
  KestiHistAdminTuningData tuning{};
  Check(GetKestiHistAdminTuningData(&tuning), "cannot read the tuning block");
  return tuning;
}

uint32_t FreeSpaceOf(const KestiHistAdminRegionHeader& header) {
  return inspection::FreeSpaceBetweenTables(header.RegionSize, header.ReposHighWater,
                                            header.FSHighWater);
}

KestiHistAdminRepository ReadRepository(uint16_t slot) {
  KestiHistAdminRepository record{};
  Check(GetKestiHistAdminOneRepository(slot, &record),
        "cannot read repository slot " + std::to_string(slot));
  return record;
}

KestiHistAdminFileSet ReadFileSet(uint16_t slot) {
  KestiHistAdminFileSet record{};
  Check(GetKestiHistAdminOneFileSet(slot, &record),
        "cannot read file-set slot " + std::to_string(slot));
  return record;
}

namespace {

// Lists grow to what the library reports; another process may add records
// between two calls when the caller holds no lock, so a few retries.
constexpr int kListAttempts = 4;
constexpr uint16_t kMaxRecords = std::numeric_limits<int16_t>::max();

}  // namespace

std::vector<KestiHistAdminRepository> ReadAllRepositories() {
  uint16_t wanted = std::max<uint16_t>(ReadHeader().NumberRepos, 1);
  for (int attempt = 0; attempt < kListAttempts; ++attempt) {
    wanted = std::min(wanted, kMaxRecords);
    std::vector<KestiHistAdminRepository> records(wanted);
    const int16_t capacity = static_cast<int16_t>(wanted);
    uint16_t count = 0;
    const int32_t code = GetKestiHistAdminAllRepositories(&capacity, records.data(), &count);
    if (code == 0) {
      records.resize(std::min(count, wanted));
      return records;
    }
    if (code != KHA_BUFFER_TOO_SMALL || count <= wanted) {
      FailWithCode(code, "cannot list the repositories");
    }
    wanted = count;
  }
  Fail("cannot list the repositories: the table kept changing");
}

std::vector<KestiHistAdminFileSet> ReadFileSets(uint16_t repository_slot) {
  uint16_t wanted = std::max<uint16_t>(
      static_cast<uint16_t>(std::max<int16_t>(ReadRepository(repository_slot).NumberFS, 0)), 1);
  for (int attempt = 0; attempt < kListAttempts; ++attempt) {
    wanted = std::min(wanted, kMaxRecords);
    std::vector<KestiHistAdminFileSet> records(wanted);
    const int16_t capacity = static_cast<int16_t>(wanted);
    uint16_t count = 0;
    const int32_t code = GetKestiHistAdminAllFileSetsForOneRepository(repository_slot, &capacity,
                                                                      records.data(), &count);
    if (code == 0) {
      records.resize(std::min(count, wanted));
      return records;
    }
    if (code != KHA_BUFFER_TOO_SMALL || count <= wanted) {
      FailWithCode(
          code, "cannot list the file sets of repository slot " + std::to_string(repository_slot));
    }
    wanted = count;
  }
  Fail("cannot list the file sets: the table kept changing");
}

FoundRepository FindRepository(const std::string& name) {
  FoundRepository found{0, 0};
  Check(SearchKestiHistAdminRepositoryByName(name.c_str(), &found.slot, &found.number),
        "cannot search for repository '" + name + "'");
  if (found.slot == 0) Fail("no repository named '" + name + "'");
  return found;
}

uint16_t FindFileSet(const FoundRepository& repository, const std::string& name, uint16_t number) {
  uint16_t slot = 0;
  const int32_t code = SearchKestiHistAdminFileSetByNumber(repository.number, number, &slot);
  if (code == KHA_INVALID_FILESET_NUMBER || (code == 0 && slot == 0)) {
    Fail("repository '" + name + "' has no file set number " + std::to_string(number));
  }
  Check(code, "cannot search for file set " + std::to_string(number) + " of '" + name + "'");
  return slot;
}

}  // namespace kha::histadmin
