// Small helpers for the table tests: add records through the exported
// interface and read them back whole.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "kestihistadmin.h"

namespace kha::test {

struct Added {
  uint16_t slot = 0;
  uint16_t number = 0;
};

inline Added AddRepository(const std::string& name, int32_t status = KHA_STATUS_ACTIVE) {
  Added added;
  EXPECT_EQ(AddKestiHistAdminOneRepository(name.c_str(), status, &added.slot, &added.number),
            KHA_OK);
  return added;
}

inline Added AddFileSet(uint16_t repository_slot) {
  Added added;
  EXPECT_EQ(AddKestiHistAdminOneFileSet(repository_slot, &added.number, &added.slot), KHA_OK);
  return added;
}

inline KestiHistAdminRepository Repository(uint16_t slot) {
  KestiHistAdminRepository record;
  std::memset(&record, 0xCD, sizeof record);
  EXPECT_EQ(GetKestiHistAdminOneRepository(slot, &record), KHA_OK);
  return record;
}

inline KestiHistAdminFileSet FileSet(uint16_t slot) {
  KestiHistAdminFileSet record;
  std::memset(&record, 0xCD, sizeof record);
  EXPECT_EQ(GetKestiHistAdminOneFileSet(slot, &record), KHA_OK);
  return record;
}

inline KestiHistAdminRegionHeader Header() {
  KestiHistAdminRegionHeader header{};
  uint16_t repos_high_water = 0, fs_high_water = 0;
  EXPECT_EQ(GetKestiHistAdminHeader(&header.RegionSize, &repos_high_water, &header.NumberRepos,
                                    &fs_high_water, &header.NumberFileSets),
            KHA_OK);
  header.ReposHighWater = static_cast<int16_t>(repos_high_water);
  header.FSHighWater = static_cast<int16_t>(fs_high_water);
  return header;
}

// Expects each of `fields` to hold the same bytes in `a` and `b` (floats
// bit for bit); a failure names the field's place in the list, from 0.
template <typename Record, typename... Types>
void ExpectSameFields(const Record& a, const Record& b, Types Record::*... fields) {
  int place = 0;
  const auto same = [&](auto field) {
    EXPECT_EQ(std::memcmp(&(a.*field), &(b.*field), sizeof(a.*field)), 0) << "field " << place;
    ++place;
  };
  (same(fields), ...);
}

// Sets a file set's status and paths with a mode-0 update, keeping the rest.
inline void SetFileSet(uint16_t slot, int32_t status, const std::string& path,
                       const std::string& pending_path) {
  KestiHistAdminFileSet record = FileSet(slot);
  record.RecordStatus = status;
  std::memset(record.FilePath, 0, sizeof record.FilePath);
  std::memset(record.PendingFilePath, 0, sizeof record.PendingFilePath);
  std::strncpy(record.FilePath, path.c_str(), sizeof record.FilePath - 1);
  std::strncpy(record.PendingFilePath, pending_path.c_str(), sizeof record.PendingFilePath - 1);
  ASSERT_EQ(UpdateKestiHistAdminOneFileSet(0, 0, slot, &record), KHA_OK);
}

// A freed file-set slot: its slot and chain fields zero, its RecordStatus
// (1 from its add) kept.
inline void ExpectFreedFileSet(uint16_t slot) {
  const KestiHistAdminFileSet record = FileSet(slot);
  EXPECT_EQ(record.SlotUsage, 0) << slot;
  EXPECT_EQ(record.Index, 0) << slot;
  EXPECT_EQ(record.ReposIndex, 0) << slot;
  EXPECT_EQ(record.NextIndex, 0) << slot;
  EXPECT_EQ(record.RecordStatus, 1) << slot;
}

// The slots of a repository's chain, in order, read from the records.
inline std::vector<uint16_t> ChainOf(uint16_t repository_slot) {
  std::vector<uint16_t> chain;
  const KestiHistAdminRepository repository = Repository(repository_slot);
  int32_t slot = repository.FirstFS;
  for (int i = 0; slot != 0 && i < 40000; ++i) {
    chain.push_back(static_cast<uint16_t>(slot));
    slot = FileSet(static_cast<uint16_t>(slot)).NextIndex;
  }
  return chain;
}

}  // namespace kha::test
