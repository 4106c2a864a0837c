// Every decision of the path check: which file set holds a path against a
// new one, which is passed over, and which is offered to take it.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "kestihistadmin.h"
#include "region/region_view.h"
#include "support/region_fixture.h"
#include "tables/table_helpers.h"

namespace {

using kha::test::AddFileSet;
using kha::test::AddRepository;
using kha::test::SetFileSet;

class PathCheck : public kha::test::RegionTest {
 protected:
  void SetUp() override {
    RegionTest::SetUp();
    repository_ = AddRepository("r").slot;
  }
  // Adds a file set with a status and paths; returns its slot.
  uint16_t Add(int32_t status, const std::string& path, const std::string& pending = "") {
    const uint16_t slot = AddFileSet(repository_).slot;
    SetFileSet(slot, status, path, pending);
    return slot;
  }
  int32_t Check(const char* path, uint16_t skip = 0) {
    slot_ = 99;
    number_ = 99;
    return CheckKestiHistAdminAllFileSetsForAFilePath(repository_, skip, path, &slot_, &number_);
  }
  uint16_t repository_ = 0;
  uint16_t slot_ = 0;
  uint16_t number_ = 0;
};

TEST_F(PathCheck, HeldPathIsRefusedWhateverTheCaseOfItsLetters) {
  Add(1, "C:\\one");
  Add(3, "C:\\two", "C:\\Pending\\Three");
  EXPECT_EQ(Check("c:\\PENDING\\three"), KHA_FILE_PATH_IN_USE);
  EXPECT_EQ(slot_, 0);
  EXPECT_EQ(number_, 0);
  EXPECT_EQ(Check("C:\\ONE"), KHA_FILE_PATH_IN_USE);
  EXPECT_EQ(Check("C:\\one\\"), KHA_OK);  // any other byte counts
  EXPECT_EQ(slot_, 0);
  EXPECT_EQ(Check("C:|one"), KHA_OK);  // '|' is '\\' + 32, but no letter
}

TEST_F(PathCheck, EveryStatusButZeroHoldsItsPaths) {
  for (const int32_t status : {1, 2, 3, 7, -1}) {
    Add(status, "D:\\s" + std::to_string(status));
    EXPECT_EQ(Check(("d:\\S" + std::to_string(status)).c_str()), KHA_FILE_PATH_IN_USE) << status;
    ASSERT_EQ(DeleteKestiHistAdminOneFileSetForOneRepository(repository_, 1), KHA_OK);
  }
}

TEST_F(PathCheck, StatusZeroHolderIsTheAnswerWhenNothingIsLeftOut) {
  Add(0, "C:\\other");
  Add(1, "C:\\busy");
  const uint16_t holder = Add(0, "C:\\x", "C:\\wanted");
  EXPECT_EQ(Check("C:\\WANTED"), KHA_OK);
  EXPECT_EQ(slot_, holder);  // even though a status-0 file set came first
  EXPECT_EQ(number_, 3);
}

TEST_F(PathCheck, FirstHolderDecides) {
  const uint16_t holder = Add(0, "C:\\same");
  Add(1, "C:\\same");
  EXPECT_EQ(Check("C:\\same"), KHA_OK);
  EXPECT_EQ(slot_, holder);
  EXPECT_EQ(number_, 1);
  ASSERT_EQ(DeleteKestiHistAdminOneFileSetForOneRepository(repository_, 1), KHA_OK);
  Add(0, "C:\\same");  // now behind the busy holder
  EXPECT_EQ(Check("C:\\same"), KHA_FILE_PATH_IN_USE);
}

TEST_F(PathCheck, WithoutAHolderTheFirstStatusZeroFileSetIsOffered) {
  EXPECT_EQ(Check("C:\\new"), KHA_OK);  // no file sets: no answer
  EXPECT_EQ(slot_, 0);
  EXPECT_EQ(number_, 0);
  Add(1, "C:\\a");
  const uint16_t first_free = Add(0, "C:\\b");
  Add(0, "C:\\c");
  EXPECT_EQ(Check("C:\\new"), KHA_OK);
  EXPECT_EQ(slot_, first_free);
  EXPECT_EQ(number_, 2);
}

TEST_F(PathCheck, APathHeldOnlyByTheFileSetLeftOutIsNoClash) {
  Add(0, "C:\\zero");
  const uint16_t own = Add(1, "C:\\mine");
  EXPECT_EQ(Check("C:\\MINE", own), KHA_OK);
  EXPECT_EQ(slot_, 1);  // the status-0 file set, at number 1
  EXPECT_EQ(number_, 1);
}

TEST_F(PathCheck, WithAFileSetLeftOutStatusZeroHoldersArePassedOver) {
  const uint16_t own = Add(1, "C:\\mine");
  Add(0, "C:\\target");  // holds it: neither an error nor the answer
  const uint16_t offered = Add(0, "C:\\elsewhere");
  EXPECT_EQ(Check("C:\\target", own), KHA_OK);
  EXPECT_EQ(slot_, offered);
  EXPECT_EQ(number_, 3);  // the left-out file set still counts
  Add(2, "C:\\TARGET");
  EXPECT_EQ(Check("C:\\target", own), KHA_FILE_PATH_IN_USE);
  EXPECT_EQ(slot_, 0);
}

TEST_F(PathCheck, AFieldFilledToItsEndHoldsAPathOfTwoHundredFiftySixBytes) {
  const uint16_t slot = Add(1, "x");
  const std::string full(256, 'L');
  KestiHistAdminFileSet* record = kha::FileSetRecordAt(slot);
  ASSERT_NE(record, nullptr);
  std::memset(record->FilePath, 'l', sizeof record->FilePath);  // no terminator in the field
  EXPECT_EQ(Check(full.c_str()), KHA_FILE_PATH_IN_USE);
  EXPECT_EQ(Check(full.substr(0, 255).c_str()), KHA_OK);
  EXPECT_EQ(Check((full + "L").c_str()), KHA_OK);
}

}  // namespace
