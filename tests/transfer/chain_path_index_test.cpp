// The path index of the configuration load against the plain walk it
// replaces: after every search and every append, on chains both well
// formed and broken, the index gives the file set a fresh walk gives.
#include "transfer/chain_path_index.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "tables/file_set_table.h"
#include "tables/repository_table.h"
#include "transfer/historian_paths.h"
#include "transfer/transfer_fixture.h"

namespace kha::test {
namespace {

using ChainPathIndexTest = TransferTest;

// A few places, each spelled several ways (letter case, network path).
std::string RandomSpelling(std::mt19937& random) {
  const int place = static_cast<int>(random() % 5);
  std::string path = (random() % 3 == 0) ? "\\\\HistServer\\d$\\h\\p" : "d:\\h\\p";
  path += std::to_string(place);
  for (char& c : path) {
    if (random() % 2 == 0 && c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return path;
}

void WritePath(uint16_t repository_slot, uint16_t file_set_slot, const std::string& path) {
  FileSetRecord record;
  std::memset(&record, 0, sizeof(record));
  std::memcpy(record.PendingFilePath, path.c_str(), path.size() + 1);
  std::memcpy(record.FilePath, path.c_str(), path.size() + 1);
  ASSERT_EQ(UpdateOneFileSet(1, repository_slot, file_set_slot, &record), KHA_OK);
}

TEST_F(ChainPathIndexTest, AnswersAsAFreshWalkOnWholeAndBrokenChains) {
  historian().record_calls = false;
  std::mt19937 random(20261208);
  for (int trial = 0; trial < 400; ++trial) {
    SCOPED_TRACE(trial);
    ASSERT_EQ(PutKestiHistAdminHeader(kDefaultRegionSize, 0, 0, 0, 0), KHA_OK);
    uint16_t repository = 0, number = 0;
    ASSERT_EQ(AddOneRepository("R", 1, &repository, &number), KHA_OK);
    const int existing = static_cast<int>(random() % 8);
    for (int i = 0; i < existing; ++i) {
      uint16_t position = 0, slot = 0;
      ASSERT_EQ(AddOneFileSet(repository, &position, &slot), KHA_OK);
      WritePath(repository, slot, RandomSpelling(random));
    }
    RepositoryRecord* record = RepositoryRecordAt(repository);
    switch (random() % 6) {
      case 0:  // NumberFS claims more than the links hold
        record->NumberFS = static_cast<int16_t>(record->NumberFS + 1);
        break;
      case 1:  // NumberFS claims less
        if (record->NumberFS > 0) record->NumberFS = static_cast<int16_t>(record->NumberFS - 1);
        break;
      case 2:  // the last file set links back to the first
        if (record->LastFS > 0) FileSetRecordAt(record->LastFS)->NextIndex = record->FirstFS;
        break;
      case 3:  // the last links back to the second, which LastFS names, and the
               // count takes the walk round to it once more
        if (record->NumberFS >= 3) {
          const int16_t second = FileSetRecordAt(record->FirstFS)->NextIndex;
          FileSetRecordAt(record->LastFS)->NextIndex = second;
          record->LastFS = second;
          record->NumberFS = static_cast<int16_t>(record->NumberFS + 1);
        }
        break;
      default:  // whole
        break;
    }

    ChainPathIndex index(repository);
    for (int query = 0; query < 12; ++query) {
      const std::string path = RandomSpelling(random);
      char converted[kPathFieldSize];
      char fixed[kPathFieldSize] = {};
      std::memcpy(fixed, path.c_str(), path.size() + 1);
      ConvertPathForComparison(fixed, converted);
      const int16_t expected = FindFirstFileSetByConvertedPath(repository, converted);
      ASSERT_EQ(index.FindFirst(converted), expected) << path;
      if (expected != 0) {
        WritePath(repository, static_cast<uint16_t>(expected), path);
      } else {
        uint16_t position = 0, slot = 0;
        ASSERT_EQ(AddOneFileSet(repository, &position, &slot), KHA_OK);
        index.NoteAppended(static_cast<int16_t>(slot), converted);
        WritePath(repository, slot, path);
      }
    }
  }
}

}  // namespace
}  // namespace kha::test
