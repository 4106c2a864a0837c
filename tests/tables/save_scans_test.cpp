// The scans that serve the save and the marking steps that open the
// configuration load.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "kestihistadmin.h"
#include "support/region_fixture.h"
#include "tables/file_set_table.h"
#include "tables/repository_table.h"
#include "tables/table_helpers.h"

namespace {

using kha::test::AddFileSet;
using kha::test::AddRepository;
using kha::test::FileSet;
using kha::test::Header;
using kha::test::Repository;
using kha::test::SetFileSet;

class SaveScans : public kha::test::RegionTest {
 protected:
  // Slots 1..6 with statuses 1, 0, 3, 2, 1, 3; slot 5 deleted again.
  void SetUp() override {
    RegionTest::SetUp();
    for (const int32_t status : {1, 0, 3, 2, 1, 3}) AddRepository("r", status);
    ASSERT_EQ(DeleteKestiHistAdminOneRepository(5), KHA_OK);
    // File sets of slot 3: statuses 1, 0, 2, 3, 1  -> 3 to save.
    for (const int32_t status : {1, 0, 2, 3, 1}) {
      SetFileSet(AddFileSet(3).slot, status, "", "");
    }
    // Slot 1: every file set 0 or 2 -> 0 to save.
    SetFileSet(AddFileSet(1).slot, 0, "", "");
    SetFileSet(AddFileSet(1).slot, 2, "", "");
  }
};

TEST_F(SaveScans, CountsOnlyRepositoriesInUseWithStatusOneOrThree) {
  EXPECT_EQ(GetKestiHistAdminNumberOfRepositoriesToSave(), 3);  // slots 1, 3, 6
}

TEST_F(SaveScans, BothListsWalkTheSameRepositoriesInSlotOrderUpToTheirCapacity) {
  std::vector<uint16_t> slots(3, 0xBEEF), counts(3, 0xBEEF);
  EXPECT_EQ(kha::ListRepositorySlotsToSave(3, slots.data()), KHA_OK);
  EXPECT_EQ(kha::ListFileSetCountsToSave(3, counts.data()), KHA_OK);
  EXPECT_EQ(slots, (std::vector<uint16_t>{1, 3, 6}));
  EXPECT_EQ(counts, (std::vector<uint16_t>{0, 3, 0}));

  slots.assign(3, 0xBEEF);
  counts.assign(3, 0xBEEF);
  EXPECT_EQ(kha::ListRepositorySlotsToSave(2, slots.data()), KHA_OK);
  EXPECT_EQ(kha::ListFileSetCountsToSave(2, counts.data()), KHA_OK);
  EXPECT_EQ(slots, (std::vector<uint16_t>{1, 3, 0xBEEF}));
  EXPECT_EQ(counts, (std::vector<uint16_t>{0, 3, 0xBEEF}));
  for (const int16_t capacity : {int16_t{0}, int16_t{-1}}) {
    EXPECT_EQ(kha::ListRepositorySlotsToSave(capacity, slots.data()), KHA_OK);
    EXPECT_EQ(kha::ListFileSetCountsToSave(capacity, counts.data()), KHA_OK);
  }
  EXPECT_EQ(slots[2], 0xBEEF);
  EXPECT_EQ(counts[2], 0xBEEF);
}

TEST_F(SaveScans, CountOfOneRepositoryIgnoresFreedFileSets) {
  EXPECT_EQ(kha::CountFileSetsToSave(3), 3);
  ASSERT_EQ(DeleteKestiHistAdminOneFileSetForOneRepository(3, 1), KHA_OK);
  EXPECT_EQ(kha::CountFileSetsToSave(3), 2);
  EXPECT_EQ(kha::CountFileSetsToSave(0), 0);
  EXPECT_EQ(kha::CountFileSetsToSave(100), 0);
}

TEST_F(SaveScans, MarkingTurnsOneIntoTwoAndEmptiesStatusZeroRepositories) {
  ASSERT_EQ(AddFileSet(2).number, 1);  // slot 2 has Status 0
  const uint16_t file_sets_before = Header().NumberFileSets;
  ASSERT_EQ(kha::MarkRepositoriesForConfigLoad(), KHA_OK);
  EXPECT_EQ(Repository(1).Status, 2);
  EXPECT_EQ(Repository(2).Status, 0);
  EXPECT_EQ(Repository(2).SlotUsage, 1);  // stays in use
  EXPECT_EQ(Repository(2).NumberFS, 0);
  EXPECT_EQ(Repository(3).Status, 3);
  EXPECT_EQ(Repository(4).Status, 2);
  EXPECT_EQ(Repository(5).Status, 0);  // freed: left alone
  EXPECT_EQ(Repository(6).Status, 3);
  EXPECT_EQ(Header().NumberFileSets, file_sets_before - 1);
  EXPECT_EQ(Header().NumberRepos, 5);
  // Repository file sets are untouched by the repository marking.
  EXPECT_EQ(Repository(3).NumberFS, 5);
}

TEST_F(SaveScans, MarkingOfFileSetsTurnsEveryOneIntoTwoAndLeavesTheRest) {
  ASSERT_EQ(kha::MarkAllFileSetsForOneRepository(3), KHA_OK);
  std::vector<int32_t> statuses;
  for (const uint16_t slot : kha::test::ChainOf(3)) statuses.push_back(FileSet(slot).RecordStatus);
  EXPECT_EQ(statuses, (std::vector<int32_t>{2, 0, 2, 3, 2}));
  EXPECT_EQ(kha::MarkAllFileSetsForOneRepository(200), KHA_REPOSITORY_NOT_FOUND);
}

}  // namespace
