// histadmin import puts a table back where adds alone pick every slot and
// number: after a history of adds and deletes, the table read back out and
// imported into the emptied region comes back with the same names, slots,
// numbers, chains and high-water marks.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "failure.h"
#include "import_placement.h"
#include "kestihistadmin.h"
#include "region_access.h"
#include "support/region_fixture.h"

namespace kha::histadmin {
namespace {

struct Picture {
  KestiHistAdminRegionHeader header;
  std::vector<std::vector<int>> rows;  // per repository in use: slot, number, chain slots
  std::set<std::pair<std::string, int>> contents;  // names and chain lengths

  bool operator==(const Picture& other) const {
    return header.ReposHighWater == other.header.ReposHighWater &&
           header.NumberRepos == other.header.NumberRepos &&
           header.FSHighWater == other.header.FSHighWater &&
           header.NumberFileSets == other.header.NumberFileSets && rows == other.rows &&
           contents == other.contents;
  }
};

Picture Take(std::vector<RepositoryToPlace>* table = nullptr) {
  Picture picture{ReadHeader(), {}, {}};
  for (const KestiHistAdminRepository& r : ReadAllRepositories()) {
    std::vector<int> row{r.Index, r.ReposNumber};
    picture.contents.emplace(r.RepositoryName, r.NumberFS);
    RepositoryToPlace entry{r, ReadFileSets(static_cast<uint16_t>(r.Index))};
    for (const KestiHistAdminFileSet& f : entry.file_sets) row.push_back(f.Index);
    picture.rows.push_back(row);
    if (table != nullptr) table->push_back(entry);
  }
  return picture;
}

std::string Show(const Picture& picture) {
  std::string text = "high-water " + std::to_string(picture.header.ReposHighWater) + "/" +
                     std::to_string(picture.header.FSHighWater) + ":";
  for (const std::vector<int>& row : picture.rows) {
    text += " [";
    for (int value : row) text += std::to_string(value) + " ";
    text += "]";
  }
  return text;
}

class ImportPlacement : public kha::test::RegionTest {};

TEST_F(ImportPlacement, EveryHistoryOfAddsAndDeletesComesBackAsItWas) {
  std::mt19937 random(20261209);
  for (int history = 0; history < 300; ++history) {
    for (const KestiHistAdminRepository& r : ReadAllRepositories()) {
      ASSERT_EQ(DeleteKestiHistAdminOneRepository(static_cast<uint16_t>(r.Index)), 0);
    }
    ASSERT_EQ(PutKestiHistAdminHeader(0xFFFFFFFFu, 0, 0, 0, 0), 0);
    // A history: adds weighted above deletes, so that tables grow, free
    // slots open below later ones, and chains take freed slots.
    int named = 0;
    for (int step = 0; step < 40; ++step) {
      const std::vector<KestiHistAdminRepository> in_use = ReadAllRepositories();
      const int choice = static_cast<int>(random() % 10);
      if (in_use.empty() || choice < 3) {
        uint16_t slot = 0, number = 0;
        const std::string name = "R" + std::to_string(++named);
        ASSERT_EQ(AddKestiHistAdminOneRepository(name.c_str(), KHA_STATUS_NEW, &slot, &number), 0);
        continue;
      }
      const auto& some = in_use[random() % in_use.size()];
      const auto slot = static_cast<uint16_t>(some.Index);
      if (choice < 5) {
        ASSERT_EQ(DeleteKestiHistAdminOneRepository(slot), 0);
      } else if (choice < 8 || some.NumberFS == 0) {
        uint16_t number = 0, file_set = 0;
        ASSERT_EQ(AddKestiHistAdminOneFileSet(slot, &number, &file_set), 0);
      } else {
        const auto position = static_cast<uint16_t>(1 + random() % some.NumberFS);
        ASSERT_EQ(DeleteKestiHistAdminOneFileSetForOneRepository(slot, position), 0);
      }
    }
    std::vector<RepositoryToPlace> table;
    const Picture before = Take(&table);
    for (const RepositoryToPlace& entry : table) {
      ASSERT_EQ(DeleteKestiHistAdminOneRepository(static_cast<uint16_t>(entry.record.Index)), 0);
    }
    LockHistAdminMutex();
    const std::vector<std::string> differences =
        PlaceImportedTable(table, before.header.ReposHighWater, before.header.FSHighWater);
    UnlockHistAdminMutex();
    EXPECT_TRUE(differences.empty()) << "history " << history << ": " << differences.front();
    const Picture after = Take();
    ASSERT_EQ(after, before) << "history " << history << "\n exported " << Show(before)
                             << "\n imported " << Show(after);
  }
}

// A file can hold numbers no history gives (here two alike, as a hand-made
// or wrapped table may): every record still comes in, in its slot, and
// each number that differs is named.
TEST_F(ImportPlacement, NumbersNoHistoryGivesKeepEveryRecordAndNameTheDifference) {
  std::vector<RepositoryToPlace> table(2);
  for (int i = 0; i < 2; ++i) {
    table[i].record.Index = static_cast<int16_t>(2 * i + 1);  // slots 1 and 3
    table[i].record.ReposNumber = 7;
    table[i].record.Status = KHA_STATUS_NEW;
    std::snprintf(table[i].record.RepositoryName, sizeof table[i].record.RepositoryName, "TWIN%d",
                  i);
  }
  LockHistAdminMutex();
  const std::vector<std::string> differences = PlaceImportedTable(table, 3, 0);
  UnlockHistAdminMutex();
  ASSERT_EQ(differences.size(), 2u);
  EXPECT_EQ(differences[0],
            "repository 'TWIN0' is in slot 1, number 1 (exported: slot 1, number 7)");
  const Picture after = Take();
  EXPECT_EQ(after.header.ReposHighWater, 3);
  EXPECT_EQ(after.header.NumberRepos, 2);
  ASSERT_EQ(after.rows.size(), 2u);
  EXPECT_EQ(after.rows[1][0], 3);
  EXPECT_TRUE(after.contents.count({"TWIN1", 0}));

  // A slot above the high-water mark it comes with is refused before
  // anything is written.
  table[1].record.Index = 4;
  LockHistAdminMutex();
  EXPECT_THROW(PlaceImportedTable(table, 3, 0), CommandFailure);
  UnlockHistAdminMutex();
  EXPECT_EQ(Take(), after);
}

}  // namespace
}  // namespace kha::histadmin
