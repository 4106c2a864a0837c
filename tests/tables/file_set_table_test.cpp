// The file-set table through the exported interface: adding to chains,
// the chain surgery of the delete, the update's modes, the search by
// number, the list, and the active and current file set.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <iterator>
#include <vector>

#include "kestihistadmin.h"
#include "support/region_fixture.h"
#include "tables/table_helpers.h"

namespace {

using kha::test::AddFileSet;
using kha::test::AddRepository;
using kha::test::ChainOf;
using kha::test::FileSet;
using kha::test::Header;
using kha::test::Repository;

class FileSetTable : public kha::test::RegionTest {};

TEST_F(FileSetTable, FirstAddStartsTheChainAndTheSecondExtendsIt) {
  const auto repository = AddRepository("r");
  const auto first = AddFileSet(repository.slot);
  EXPECT_EQ(first.slot, 1);
  EXPECT_EQ(first.number, 1);
  KestiHistAdminRepository record = Repository(repository.slot);
  EXPECT_EQ(record.NumberFS, 1);
  EXPECT_EQ(record.FirstFS, 1);
  EXPECT_EQ(record.LastFS, 1);
  const KestiHistAdminFileSet fs = FileSet(first.slot);
  EXPECT_EQ(fs.RecordStatus, 1);
  EXPECT_EQ(fs.SlotUsage, 1);
  EXPECT_EQ(fs.Index, 1);
  EXPECT_EQ(fs.ReposIndex, repository.slot);
  EXPECT_EQ(fs.NextIndex, 0);

  const auto second = AddFileSet(repository.slot);
  EXPECT_EQ(second.slot, 2);
  EXPECT_EQ(second.number, 2);
  record = Repository(repository.slot);
  EXPECT_EQ(record.NumberFS, 2);
  EXPECT_EQ(record.FirstFS, 1);
  EXPECT_EQ(record.LastFS, 2);
  EXPECT_EQ(FileSet(first.slot).NextIndex, 2);
  const auto header = Header();
  EXPECT_EQ(header.NumberFileSets, 2);
  EXPECT_EQ(header.FSHighWater, 2);
}

TEST_F(FileSetTable, ChainsKeepTheOrderOfAdditionNotOfSlots) {
  const auto a = AddRepository("a");
  const auto b = AddRepository("b");
  const uint16_t a1 = AddFileSet(a.slot).slot;  // 1
  const uint16_t b1 = AddFileSet(b.slot).slot;  // 2
  const uint16_t a2 = AddFileSet(a.slot).slot;  // 3
  ASSERT_EQ(DeleteKestiHistAdminOneFileSetForOneRepository(b.slot, 1), KHA_OK);
  const uint16_t a3 = AddFileSet(a.slot).slot;  // the lower free slot 2
  EXPECT_EQ(a3, b1);
  EXPECT_EQ(ChainOf(a.slot), (std::vector<uint16_t>{a1, a2, a3}));
  EXPECT_EQ(Repository(a.slot).LastFS, a3);
  EXPECT_TRUE(ChainOf(b.slot).empty());
}

TEST_F(FileSetTable, AddIntoAReusedSlotKeepsTheFormerRecordsData) {
  const auto repository = AddRepository("r");
  const uint16_t slot = AddFileSet(repository.slot).slot;
  KestiHistAdminFileSet record = FileSet(slot);
  std::strcpy(record.FilePath, "E:\\old");
  record.StartTime = {100, 5};
  record.Size = 64;
  record.RecordStatus = 3;
  ASSERT_EQ(UpdateKestiHistAdminOneFileSet(0, repository.slot, slot, &record), KHA_OK);
  ASSERT_EQ(DeleteKestiHistAdminOneFileSetForOneRepository(repository.slot, 1), KHA_OK);

  const auto again = AddFileSet(repository.slot);
  ASSERT_EQ(again.slot, slot);
  const KestiHistAdminFileSet reused = FileSet(slot);
  EXPECT_STREQ(reused.FilePath, "E:\\old");
  EXPECT_EQ(reused.StartTime.Seconds, 100);
  EXPECT_EQ(reused.Size, 64);
  EXPECT_EQ(reused.RecordStatus, 1);  // new, as the slot and chain fields
  EXPECT_EQ(reused.Index, slot);
  EXPECT_EQ(reused.ReposIndex, repository.slot);
}

// Three file sets in one chain, deleting each position in turn.
class ChainSurgery : public FileSetTable {
 protected:
  void SetUp() override {
    FileSetTable::SetUp();
    other_ = AddRepository("other").slot;
    repository_ = AddRepository("r").slot;
    AddFileSet(other_);
    for (auto& slot : slots_) slot = AddFileSet(repository_).slot;
    AddFileSet(other_);
  }
  void ExpectChain(const std::vector<uint16_t>& chain) {
    EXPECT_EQ(ChainOf(repository_), chain);
    const KestiHistAdminRepository record = Repository(repository_);
    EXPECT_EQ(record.NumberFS, static_cast<int16_t>(chain.size()));
    EXPECT_EQ(record.FirstFS, chain.empty() ? 0 : chain.front());
    EXPECT_EQ(record.LastFS, chain.empty() ? 0 : chain.back());
    if (!chain.empty()) {
      EXPECT_EQ(FileSet(chain.back()).NextIndex, 0);
    }
    EXPECT_EQ(ChainOf(other_).size(), 2u);  // the neighbour's chain is untouched
  }
  uint16_t other_ = 0;
  uint16_t repository_ = 0;
  uint16_t slots_[3] = {};
};

TEST_F(ChainSurgery, DeleteAtEachPositionClosesTheChainAroundIt) {
  for (int position = 1; position <= 3; ++position) {
    SCOPED_TRACE(position);
    if (position > 1) {
      kha::test::DetachCompletely();
      SetUp();
    }
    ASSERT_EQ(DeleteKestiHistAdminOneFileSetForOneRepository(repository_,
                                                             static_cast<uint16_t>(position)),
              KHA_OK);
    std::vector<uint16_t> rest(std::begin(slots_), std::end(slots_));
    rest.erase(rest.begin() + position - 1);
    ExpectChain(rest);
    kha::test::ExpectFreedFileSet(slots_[position - 1]);
    EXPECT_EQ(Header().NumberFileSets, 4);
  }
}

TEST_F(ChainSurgery, DeleteAllOneByOneThenStartANewChain) {
  ASSERT_EQ(DeleteKestiHistAdminOneFileSetForOneRepository(repository_, 2), KHA_OK);
  ASSERT_EQ(DeleteKestiHistAdminOneFileSetForOneRepository(repository_, 2), KHA_OK);
  ASSERT_EQ(DeleteKestiHistAdminOneFileSetForOneRepository(repository_, 1),
            KHA_OK);  // the only one
  ExpectChain({});
  EXPECT_EQ(Header().NumberFileSets, 2);
  const auto again = AddFileSet(repository_);
  EXPECT_EQ(again.number, 1);
  EXPECT_EQ(again.slot, slots_[0]);
  ExpectChain({slots_[0]});
}

TEST_F(ChainSurgery, NumbersBeyondTheChainAreRefusedAndZeroDeletesNothing) {
  EXPECT_EQ(DeleteKestiHistAdminOneFileSetForOneRepository(repository_, 4),
            KHA_INVALID_FILESET_NUMBER);
  EXPECT_EQ(DeleteKestiHistAdminOneFileSetForOneRepository(repository_, 0), KHA_OK);
  EXPECT_EQ(DeleteKestiHistAdminOneFileSetForOneRepository(repository_, 0xFFFF), KHA_OK);  // -1
  ExpectChain({slots_[0], slots_[1], slots_[2]});
  EXPECT_EQ(Header().NumberFileSets, 5);
}

TEST_F(ChainSurgery, SearchByNumberFollowsTheClosingUp) {
  const uint16_t number = Repository(repository_).ReposNumber;
  uint16_t slot = 0;
  ASSERT_EQ(SearchKestiHistAdminFileSetByNumber(number, 3, &slot), KHA_OK);
  EXPECT_EQ(slot, slots_[2]);
  ASSERT_EQ(DeleteKestiHistAdminOneFileSetForOneRepository(repository_, 2), KHA_OK);
  ASSERT_EQ(SearchKestiHistAdminFileSetByNumber(number, 2, &slot), KHA_OK);
  EXPECT_EQ(slot, slots_[2]);
  ASSERT_EQ(SearchKestiHistAdminFileSetByNumber(number, 1, &slot), KHA_OK);
  EXPECT_EQ(slot, slots_[0]);

  slot = 77;
  EXPECT_EQ(SearchKestiHistAdminFileSetByNumber(number, 3, &slot), KHA_INVALID_FILESET_NUMBER);
  EXPECT_EQ(slot, 77);
  EXPECT_EQ(SearchKestiHistAdminFileSetByNumber(999, 1, &slot), KHA_REPOSITORY_NOT_FOUND);
  EXPECT_EQ(slot, 77);
  EXPECT_EQ(SearchKestiHistAdminFileSetByNumber(number, 0, &slot), KHA_OK);
  EXPECT_EQ(slot, 0);
}

TEST_F(ChainSurgery, ListCopiesTheChainInOrderOrNothingWhenTooSmall) {
  std::vector<KestiHistAdminFileSet> records(3);
  std::memset(records.data(), 0xEE, records.size() * sizeof records[0]);
  int16_t capacity = 2;
  uint16_t count = 0;
  EXPECT_EQ(
      GetKestiHistAdminAllFileSetsForOneRepository(repository_, &capacity, records.data(), &count),
      KHA_BUFFER_TOO_SMALL);
  EXPECT_EQ(count, 3);
  for (const auto& record : records) EXPECT_EQ(record.SlotUsage, static_cast<int32_t>(0xEEEEEEEE));

  capacity = 3;
  ASSERT_EQ(
      GetKestiHistAdminAllFileSetsForOneRepository(repository_, &capacity, records.data(), &count),
      KHA_OK);
  EXPECT_EQ(count, 3);
  for (int i = 0; i < 3; ++i) {
    const KestiHistAdminFileSet stored = FileSet(slots_[i]);
    EXPECT_EQ(std::memcmp(&records[static_cast<std::size_t>(i)], &stored, sizeof stored), 0) << i;
  }
}

KestiHistAdminFileSet PatternedFileSet(unsigned char fill) {
  KestiHistAdminFileSet record;
  std::memset(&record, fill, sizeof record);
  std::strcpy(record.FilePath, "F:\\set");
  std::strcpy(record.PendingFilePath, "F:\\pending");
  return record;
}

TEST_F(FileSetTable, UpdateModeZeroWritesEveryCallerField) {
  const auto repository = AddRepository("r");
  const uint16_t slot = AddFileSet(repository.slot).slot;
  const KestiHistAdminFileSet in = PatternedFileSet(0x21);
  ASSERT_EQ(UpdateKestiHistAdminOneFileSet(0, repository.slot, slot, &in), KHA_OK);
  const KestiHistAdminFileSet after = FileSet(slot);
  EXPECT_EQ(after.RecordStatus, in.RecordStatus);
  EXPECT_STREQ(after.FilePath, "F:\\set");
  EXPECT_STREQ(after.PendingFilePath, "F:\\pending");
  // StartTime through Spare4 and HistoryStatus: byte for byte.
  EXPECT_EQ(std::memcmp(&after.StartTime, &in.StartTime,
                        offsetof(KestiHistAdminFileSet, SlotUsage) -
                            offsetof(KestiHistAdminFileSet, StartTime)),
            0);
  EXPECT_EQ(after.HistoryStatus, in.HistoryStatus);
  EXPECT_EQ(after.SlotUsage, 1);
  EXPECT_EQ(after.Index, slot);
  EXPECT_EQ(after.ReposIndex, repository.slot);
  EXPECT_EQ(after.NextIndex, 0);
}

TEST_F(FileSetTable, UpdateOtherModesKeepTimesValuesInEffectAndHistoryStatus) {
  const auto repository = AddRepository("r");
  const uint16_t slot = AddFileSet(repository.slot).slot;
  const KestiHistAdminFileSet base = PatternedFileSet(0x21);
  ASSERT_EQ(UpdateKestiHistAdminOneFileSet(0, repository.slot, slot, &base), KHA_OK);
  for (const int32_t mode : {1, 2}) {
    KestiHistAdminFileSet in = PatternedFileSet(static_cast<unsigned char>(0x40 + mode));
    ASSERT_EQ(UpdateKestiHistAdminOneFileSet(mode, 0, slot, &in), KHA_OK);
    const KestiHistAdminFileSet after = FileSet(slot);
    using F = KestiHistAdminFileSet;
    kha::test::ExpectSameFields(after, base, &F::StartTime, &F::EndTime, &F::Size, &F::Threshold,
                                &F::Timespan, &F::HistoryStatus);
    kha::test::ExpectSameFields(after, in, &F::RecordStatus, &F::ParamSource, &F::PendingSize,
                                &F::PendingThreshold, &F::PendingTimespan, &F::Percentage,
                                &F::Spare1, &F::Spare2, &F::Spare3, &F::Spare4);
  }
}

TEST_F(FileSetTable, ActiveMeansRecordStatusOneOrTwo) {
  const auto repository = AddRepository("r");
  EXPECT_EQ(RepositoryHasOneActiveFileSet(repository.slot), 0);
  const uint16_t a = AddFileSet(repository.slot).slot;
  const uint16_t b = AddFileSet(repository.slot).slot;
  EXPECT_EQ(RepositoryHasOneActiveFileSet(repository.slot), 1);
  kha::test::SetFileSet(a, 0, "", "");
  kha::test::SetFileSet(b, 3, "", "");
  EXPECT_EQ(RepositoryHasOneActiveFileSet(repository.slot), 0);
  kha::test::SetFileSet(b, 2, "", "");
  EXPECT_EQ(RepositoryHasOneActiveFileSet(repository.slot), 1);
}

void SetTimes(uint16_t slot, int32_t start_seconds, int32_t end_seconds, int32_t micros) {
  KestiHistAdminFileSet record = FileSet(slot);
  record.StartTime = {start_seconds, micros};
  record.EndTime = {end_seconds, micros};
  ASSERT_EQ(UpdateKestiHistAdminOneFileSet(0, 0, slot, &record), KHA_OK);
}

TEST_F(FileSetTable, CurrentIsTheFirstOpenFileSetByPosition) {
  const auto repository = AddRepository("r");
  EXPECT_EQ(GetKestiHistAdminCurrentFileSetForOneRepository(repository.slot), 0);
  const uint16_t a = AddFileSet(repository.slot).slot;
  const uint16_t b = AddFileSet(repository.slot).slot;
  const uint16_t c = AddFileSet(repository.slot).slot;
  SetTimes(a, 100, 200, 0);  // closed
  SetTimes(b, 0, 0, 9);      // start seconds 0: never current
  SetTimes(c, 300, 0, 5);    // open
  EXPECT_EQ(GetKestiHistAdminCurrentFileSetForOneRepository(repository.slot), 3);
  SetTimes(a, 100, 0, 0);
  EXPECT_EQ(GetKestiHistAdminCurrentFileSetForOneRepository(repository.slot), 1);
  ASSERT_EQ(DeleteKestiHistAdminOneFileSetForOneRepository(repository.slot, 1), KHA_OK);
  EXPECT_EQ(GetKestiHistAdminCurrentFileSetForOneRepository(repository.slot), 2);
}

}  // namespace
