// The repository table through the exported interface: slots, numbers,
// names, the update's modes, the delete and the list.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "kestihistadmin.h"
#include "support/region_fixture.h"
#include "tables/table_helpers.h"

namespace {

using kha::test::AddFileSet;
using kha::test::AddRepository;
using kha::test::Header;
using kha::test::Repository;

class RepositoryTable : public kha::test::RegionTest {};

TEST_F(RepositoryTable, FirstAddTakesSlotOneAtTheEndOfTheRegionWithNumberOne) {
  const auto added = AddRepository("Alpha", 3);
  EXPECT_EQ(added.slot, 1);
  EXPECT_EQ(added.number, 1);
  const auto header = Header();
  EXPECT_EQ(header.ReposHighWater, 1);
  EXPECT_EQ(header.NumberRepos, 1);

  const KestiHistAdminRepository record = Repository(1);
  EXPECT_STREQ(record.RepositoryName, "Alpha");
  EXPECT_EQ(record.Status, 3);
  EXPECT_EQ(record.SlotUsage, 1);
  EXPECT_EQ(record.Index, 1);
  EXPECT_EQ(record.ReposNumber, 1);
  EXPECT_EQ(record.NumberFS, 0);
  EXPECT_EQ(record.FirstFS, 0);
  EXPECT_EQ(record.LastFS, 0);
  // A fresh region: the settings the add does not write are zero.
  EXPECT_EQ(record.FilePath[0], '\0');
  EXPECT_EQ(record.NumberPoints, 0);
}

// Each case in a fresh region: `added` repositories, the slots deleted in
// turn, then the slot and number of each further add. Freed slots are
// never given back (the high-water mark stays), the lowest free slot is
// taken first, and a number is one above the largest in use.
TEST_F(RepositoryTable, AddsAfterDeletesTakeTheLowestFreeSlotAndTheNextNumber) {
  const struct {
    uint16_t added;
    std::vector<uint16_t> deleted;
    std::vector<std::pair<uint16_t, uint16_t>> adds;  // slot, number
  } cases[] = {
      {3, {2}, {{2, 4}}},                     // not the highest number
      {2, {1}, {{1, 3}}},                     // the first slot, a new number
      {2, {2}, {{2, 2}}},                     // the highest number is handed out again
      {4, {3, 2}, {{2, 5}, {3, 6}, {5, 7}}},  // lowest free slot first
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    kha::test::DetachCompletely();
    ASSERT_EQ(SetupAndAttachToKestiHistAdminSharedMemory(kDefaultRegionSize), KHA_OK);
    for (int i = 0; i < c.added; ++i) AddRepository("r");
    for (const uint16_t slot : c.deleted)
      ASSERT_EQ(DeleteKestiHistAdminOneRepository(slot), KHA_OK);
    EXPECT_EQ(Header().ReposHighWater, c.added);
    for (const auto& [slot, number] : c.adds) {
      const auto added = AddRepository("again");
      EXPECT_EQ(added.slot, slot);
      EXPECT_EQ(added.number, number);
    }
    EXPECT_EQ(Header().NumberRepos + c.deleted.size(), c.added + c.adds.size());
  }
}

TEST_F(RepositoryTable, FreedSlotKeepsNameAndSettingsUntilTheNextAddWritesItsOwnFields) {
  const auto first = AddRepository("Keeper");
  KestiHistAdminRepository settings = Repository(first.slot);
  std::strcpy(settings.FilePath, "D:\\hist\\keeper");
  settings.NumberPoints = 1234;
  settings.PastTime = 77;
  ASSERT_EQ(UpdateKestiHistAdminOneRepositoryHeader(0, first.slot, &settings), KHA_OK);
  AddFileSet(first.slot);
  ASSERT_EQ(DeleteKestiHistAdminOneRepository(first.slot), KHA_OK);

  KestiHistAdminRepository freed = Repository(first.slot);
  EXPECT_EQ(freed.SlotUsage, 0);
  EXPECT_EQ(freed.Status, 0);
  EXPECT_EQ(freed.ReposNumber, 0);
  EXPECT_EQ(freed.NumberFS, 0);
  EXPECT_EQ(freed.FirstFS, 0);
  EXPECT_EQ(freed.LastFS, 0);
  EXPECT_EQ(freed.Index, first.slot);
  EXPECT_STREQ(freed.RepositoryName, "Keeper");
  EXPECT_STREQ(freed.FilePath, "D:\\hist\\keeper");
  EXPECT_EQ(freed.NumberPoints, 1234);

  const auto again = AddRepository("New", 1);
  ASSERT_EQ(again.slot, first.slot);
  const KestiHistAdminRepository reused = Repository(again.slot);
  EXPECT_STREQ(reused.RepositoryName, "New");
  EXPECT_EQ(std::string(reused.RepositoryName + 4, 2), "er");  // behind the terminator: "Keeper"'s
  EXPECT_EQ(reused.Status, 1);
  EXPECT_EQ(reused.ReposNumber, 1);
  EXPECT_STREQ(reused.FilePath, "D:\\hist\\keeper");
  EXPECT_EQ(reused.NumberPoints, 1234);
  EXPECT_EQ(reused.PastTime, 77);
  EXPECT_EQ(reused.NumberFS, 0);
}

TEST_F(RepositoryTable, DeleteOfASlotNotInUseChangesNothing) {
  AddRepository("a");
  AddRepository("b");
  ASSERT_EQ(DeleteKestiHistAdminOneRepository(1), KHA_OK);
  ASSERT_EQ(Header().NumberRepos, 1);
  EXPECT_EQ(DeleteKestiHistAdminOneRepository(1), KHA_OK);
  EXPECT_EQ(Header().NumberRepos, 1);
  EXPECT_EQ(Repository(2).SlotUsage, 1);
}

TEST_F(RepositoryTable, DeleteFreesEveryFileSetAndKeepsBothHighWaterMarks) {
  const auto keep = AddRepository("keep");
  const auto doomed = AddRepository("doomed");
  AddFileSet(keep.slot);
  const uint16_t f1 = AddFileSet(doomed.slot).slot;
  const uint16_t f2 = AddFileSet(doomed.slot).slot;
  const uint16_t f3 = AddFileSet(doomed.slot).slot;
  ASSERT_EQ(Header().NumberFileSets, 4);

  ASSERT_EQ(DeleteKestiHistAdminOneRepository(doomed.slot), KHA_OK);
  const auto header = Header();
  EXPECT_EQ(header.NumberRepos, 1);
  EXPECT_EQ(header.NumberFileSets, 1);
  EXPECT_EQ(header.ReposHighWater, 2);
  EXPECT_EQ(header.FSHighWater, 4);
  for (const uint16_t slot : {f1, f2, f3}) kha::test::ExpectFreedFileSet(slot);
  // The freed slots go to the next file-set adds, lowest first.
  EXPECT_EQ(AddFileSet(keep.slot).slot, f1);
  EXPECT_EQ(AddFileSet(keep.slot).slot, f2);
}

TEST_F(RepositoryTable, ReleaseOfAllFileSetsKeepsTheRepositoryInUse) {
  const auto repository = AddRepository("r");
  const uint16_t first = AddFileSet(repository.slot).slot;
  AddFileSet(repository.slot);
  AddFileSet(repository.slot);
  ASSERT_EQ(DeleteKestiHistAdminAllFileSetForOneRepository(repository.slot), KHA_OK);

  const KestiHistAdminRepository record = Repository(repository.slot);
  EXPECT_EQ(record.SlotUsage, 1);
  EXPECT_EQ(record.Status, 1);
  EXPECT_EQ(record.ReposNumber, repository.number);
  EXPECT_EQ(record.NumberFS, 0);
  EXPECT_EQ(record.FirstFS, 0);
  EXPECT_EQ(record.LastFS, 0);
  EXPECT_EQ(Header().NumberFileSets, 0);
  EXPECT_EQ(Header().NumberRepos, 1);
  EXPECT_EQ(AddFileSet(repository.slot).slot, first);

  // On an empty chain it changes nothing and succeeds.
  const auto empty = AddRepository("empty");
  EXPECT_EQ(DeleteKestiHistAdminAllFileSetForOneRepository(empty.slot), KHA_OK);
  EXPECT_EQ(Header().NumberFileSets, 1);
}

TEST_F(RepositoryTable, NamesOfOneToThirtyCharacters) {
  const std::string thirty(30, 'x');
  const auto added = AddRepository(thirty);
  uint16_t slot = 9, number = 9;
  EXPECT_EQ(SearchKestiHistAdminRepositoryByName(thirty.c_str(), &slot, &number), KHA_OK);
  EXPECT_EQ(slot, added.slot);
  EXPECT_EQ(number, added.number);

  const std::string thirty_one(31, 'x');
  for (const std::string& bad : {thirty_one, std::string()}) {
    slot = 9;
    number = 9;
    EXPECT_EQ(SearchKestiHistAdminRepositoryByName(bad.c_str(), &slot, &number), KHA_NAME_TOO_LONG);
    EXPECT_EQ(slot, 0);
    EXPECT_EQ(number, 0);
    slot = 9;
    number = 9;
    EXPECT_EQ(AddKestiHistAdminOneRepository(bad.c_str(), 1, &slot, &number), KHA_NAME_TOO_LONG);
    EXPECT_EQ(slot, 0);
    EXPECT_EQ(number, 9);  // written only on success
  }
  EXPECT_EQ(Header().NumberRepos, 1);
  EXPECT_EQ(Header().ReposHighWater, 1);
}

TEST_F(RepositoryTable, DuplicateNamesAreAllowedAndTheLowerSlotIsFound) {
  const auto first = AddRepository("twin");
  const auto second = AddRepository("TWIN");
  EXPECT_NE(first.slot, second.slot);
  EXPECT_NE(first.number, second.number);
  uint16_t slot = 0, number = 0;
  ASSERT_EQ(SearchKestiHistAdminRepositoryByName("Twin", &slot, &number), KHA_OK);
  EXPECT_EQ(slot, first.slot);
  ASSERT_EQ(DeleteKestiHistAdminOneRepository(first.slot), KHA_OK);
  ASSERT_EQ(SearchKestiHistAdminRepositoryByName("Twin", &slot, &number), KHA_OK);
  EXPECT_EQ(slot, second.slot);
  EXPECT_EQ(number, second.number);
}

TEST_F(RepositoryTable, SearchesThatFindNothingSucceedWithZero) {
  AddRepository("there");
  uint16_t slot = 9, number = 9;
  EXPECT_EQ(SearchKestiHistAdminRepositoryByName("absent", &slot, &number), KHA_OK);
  EXPECT_EQ(slot, 0);
  EXPECT_EQ(number, 0);
  slot = 9;
  EXPECT_EQ(SearchKestiHistAdminRepositoryByNumber(2, &slot), KHA_OK);
  EXPECT_EQ(slot, 0);
  EXPECT_EQ(SearchKestiHistAdminRepositoryByNumber(1, &slot), KHA_OK);
  EXPECT_EQ(slot, 1);
  // A freed slot is not found by its old name or number.
  ASSERT_EQ(DeleteKestiHistAdminOneRepository(1), KHA_OK);
  EXPECT_EQ(SearchKestiHistAdminRepositoryByName("there", &slot, &number), KHA_OK);
  EXPECT_EQ(slot, 0);
  EXPECT_EQ(SearchKestiHistAdminRepositoryByNumber(0, &slot), KHA_OK);
  EXPECT_EQ(slot, 0);
}

// A record whose every byte differs from what the region holds.
KestiHistAdminRepository Patterned(unsigned char fill) {
  KestiHistAdminRepository record;
  std::memset(&record, fill, sizeof record);
  std::strcpy(record.FilePath, "path");
  std::strcpy(record.PendingFilePath, "pending path");
  std::strcpy(record.BackupFilePath, "backup");
  std::strcpy(record.PendingBackupFilePath, "pending backup");
  return record;
}

TEST_F(RepositoryTable, UpdateModeZeroWritesTheWholeHeaderAndNothingElse) {
  const auto added = AddRepository("upd", 1);
  const KestiHistAdminRepository before = Repository(added.slot);
  const KestiHistAdminRepository in = Patterned(0x11);
  ASSERT_EQ(UpdateKestiHistAdminOneRepositoryHeader(0, added.slot, &in), KHA_OK);
  const KestiHistAdminRepository after = Repository(added.slot);

  // The header from Status through PendingEmptyFilesets, paths as strings.
  EXPECT_EQ(after.Status, in.Status);
  EXPECT_STREQ(after.FilePath, "path");
  EXPECT_STREQ(after.PendingFilePath, "pending path");
  EXPECT_STREQ(after.BackupFilePath, "backup");
  EXPECT_STREQ(after.PendingBackupFilePath, "pending backup");
  EXPECT_EQ(std::memcmp(&after.NumberPoints, &in.NumberPoints,
                        offsetof(KestiHistAdminRepository, SlotUsage) -
                            offsetof(KestiHistAdminRepository, NumberPoints)),
            0);
  // Behind each path's terminator the region's old bytes (zeros) stay.
  EXPECT_EQ(after.FilePath[5], '\0');
  EXPECT_EQ(after.FilePath[255], '\0');
  // Name, slot and chain fields, number and padding are not the caller's.
  EXPECT_STREQ(after.RepositoryName, "upd");
  EXPECT_EQ(after.SlotUsage, 1);
  EXPECT_EQ(after.Index, added.slot);
  EXPECT_EQ(after.NumberFS, 0);
  EXPECT_EQ(after.FirstFS, 0);
  EXPECT_EQ(after.LastFS, 0);
  EXPECT_EQ(after.ReposNumber, added.number);
  EXPECT_EQ(std::memcmp(after.Padding, before.Padding, 2), 0);
}

TEST_F(RepositoryTable, UpdateOtherModesKeepTheSevenValuesInEffect) {
  const auto added = AddRepository("upd", 1);
  const KestiHistAdminRepository base = Patterned(0x11);
  ASSERT_EQ(UpdateKestiHistAdminOneRepositoryHeader(0, added.slot, &base), KHA_OK);

  for (const int32_t mode : {1, 2, -1}) {
    KestiHistAdminRepository in = Patterned(static_cast<unsigned char>(0x20 + mode));
    std::strcpy(in.FilePath, "new path");
    ASSERT_EQ(UpdateKestiHistAdminOneRepositoryHeader(mode, added.slot, &in), KHA_OK);
    const KestiHistAdminRepository after = Repository(added.slot);
    using R = KestiHistAdminRepository;
    // Kept: the values in effect.
    kha::test::ExpectSameFields(after, base, &R::NumberPoints, &R::QueueSize, &R::GlobalThreshold,
                                &R::GlobalTimeSpan, &R::CacheSize, &R::InsertSize,
                                &R::EmptyFilesets);
    // Written: status, all paths, pending values and the unpaired settings.
    EXPECT_STREQ(after.FilePath, "new path");
    EXPECT_STREQ(after.BackupFilePath, "backup");
    kha::test::ExpectSameFields(
        after, in, &R::Status, &R::PendingNumberPoints, &R::PendingQueueSize, &R::GlobalFileSetSize,
        &R::PendingGlobalThreshold, &R::PendingGlobalTimeSpan, &R::FutureTime, &R::PastTime,
        &R::PendingCacheSize, &R::PendingInsertSize, &R::PendingEmptyFilesets);
  }
}

// In either table, in any mode; the path does not run into the next field.
TEST_F(RepositoryTable, UpdatesCopyAnUnterminatedPathAsTwoHundredFiftyFiveBytes) {
  const auto added = AddRepository("upd");
  const uint16_t slot = AddFileSet(added.slot).slot;
  KestiHistAdminRepository repository = Repository(added.slot);
  std::memset(repository.PendingFilePath, 'p', sizeof repository.PendingFilePath);
  std::memset(repository.BackupFilePath, 'q', sizeof repository.BackupFilePath);
  ASSERT_EQ(UpdateKestiHistAdminOneRepositoryHeader(1, added.slot, &repository), KHA_OK);
  KestiHistAdminFileSet file_set = kha::test::FileSet(slot);
  std::memset(file_set.FilePath, 'f', sizeof file_set.FilePath);
  std::memset(file_set.PendingFilePath, 'g', sizeof file_set.PendingFilePath);
  ASSERT_EQ(UpdateKestiHistAdminOneFileSet(1, 0, slot, &file_set), KHA_OK);
  repository = Repository(added.slot);
  file_set = kha::test::FileSet(slot);
  EXPECT_EQ(std::string(repository.PendingFilePath), std::string(255, 'p'));
  EXPECT_EQ(std::string(repository.BackupFilePath), std::string(255, 'q'));
  EXPECT_EQ(std::string(file_set.FilePath), std::string(255, 'f'));
  EXPECT_EQ(std::string(file_set.PendingFilePath), std::string(255, 'g'));
  EXPECT_EQ(file_set.StartTime.Seconds, 0);
}

TEST_F(RepositoryTable, ListCopiesWhatFitsAndReportsTheFullCount) {
  AddRepository("a");
  AddRepository("b");
  AddRepository("c");
  AddRepository("d");
  ASSERT_EQ(DeleteKestiHistAdminOneRepository(2), KHA_OK);  // in use: slots 1, 3, 4

  std::vector<KestiHistAdminRepository> records(3);
  std::memset(records.data(), 0xEE, records.size() * sizeof records[0]);
  int16_t capacity = 2;
  uint16_t count = 0;
  EXPECT_EQ(GetKestiHistAdminAllRepositories(&capacity, records.data(), &count),
            KHA_BUFFER_TOO_SMALL);
  EXPECT_EQ(count, 3);
  EXPECT_STREQ(records[0].RepositoryName, "a");
  EXPECT_STREQ(records[1].RepositoryName, "c");
  EXPECT_EQ(records[2].SlotUsage, static_cast<int32_t>(0xEEEEEEEE));  // beyond capacity: untouched

  capacity = 3;
  EXPECT_EQ(GetKestiHistAdminAllRepositories(&capacity, records.data(), &count), KHA_OK);
  EXPECT_EQ(count, 3);
  EXPECT_STREQ(records[2].RepositoryName, "d");
  const KestiHistAdminRepository third = Repository(3);
  EXPECT_EQ(std::memcmp(&records[1], &third, sizeof third), 0);
}

TEST_F(RepositoryTable, ListOfAnEmptyTableOrChainIsEmptyForAnyCapacity) {
  for (const int16_t room : {int16_t{0}, int16_t{1}, int16_t{3}}) {
    int16_t capacity = room;
    uint16_t count = 7;
    KestiHistAdminRepository record;
    EXPECT_EQ(GetKestiHistAdminAllRepositories(&capacity, &record, &count), KHA_OK);
    EXPECT_EQ(count, 0);
  }
  // A negative capacity holds fewer than none.
  int16_t capacity = -3;
  uint16_t count = 7;
  EXPECT_EQ(GetKestiHistAdminAllRepositories(&capacity, nullptr, &count), KHA_BUFFER_TOO_SMALL);
  EXPECT_EQ(count, 0);
  AddRepository("x");
  capacity = 0;
  EXPECT_EQ(GetKestiHistAdminAllRepositories(&capacity, nullptr, &count), KHA_BUFFER_TOO_SMALL);
  EXPECT_EQ(count, 1);
  // Likewise its empty chain of file sets, with no room for any.
  count = 5;
  EXPECT_EQ(GetKestiHistAdminAllFileSetsForOneRepository(1, &capacity, nullptr, &count), KHA_OK);
  EXPECT_EQ(count, 0);
}

class TinyRegion : public kha::test::RegionTest {
 protected:
  // Room for exactly one file set and one repository.
  uint32_t RegionSize() const override { return 692 + 600 + 1144; }
};

TEST_F(TinyRegion, OneOfEachFitsAndASecondRepositoryDoesNot) {
  const auto repository = AddRepository("only");
  EXPECT_EQ(repository.slot, 1);
  AddFileSet(repository.slot);
  uint16_t slot = 9, number = 9;
  EXPECT_EQ(AddKestiHistAdminOneRepository("second", 1, &slot, &number), KHA_NO_SPACE);
  EXPECT_EQ(slot, 0);
  EXPECT_EQ(AddKestiHistAdminOneFileSet(repository.slot, &number, &slot), KHA_NO_SPACE);
  EXPECT_EQ(slot, 0);
  EXPECT_EQ(number, 0);
  const auto header = Header();
  EXPECT_EQ(header.NumberRepos, 1);
  EXPECT_EQ(header.NumberFileSets, 1);
  EXPECT_EQ(header.ReposHighWater, 1);
  EXPECT_EQ(header.FSHighWater, 1);
}

}  // namespace
