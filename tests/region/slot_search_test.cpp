// Addressing and slot search inside the mapped region: where each slot
// lies, how free space is judged, which slot a search hands out, and that
// no header, however wrong, yields an address outside the view.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "kestihistadmin.h"
#include "region/layout.h"
#include "region/locking.h"
#include "region/process_state.h"
#include "region/region_view.h"
#include "region/table_geometry.h"
#include "support/region_fixture.h"

namespace {

using kha::FileSetRecordAt;
using kha::FindFreeFileSetSlot;
using kha::FindFreeRepositorySlot;
using kha::FreeSpace;
using kha::HistAdminHeader;
using kha::RepositoryRecordAt;

constexpr uint32_t kRepo = KHA_REPOSITORY_RECORD_SIZE;
constexpr uint32_t kFileSet = KHA_FILESET_RECORD_SIZE;
constexpr uint32_t kTables = KHA_FILESET_TABLE_OFFSET;

std::byte* Base() { return reinterpret_cast<std::byte*>(HistAdminHeader()); }

std::ptrdiff_t OffsetOf(const void* record) {
  return static_cast<const std::byte*>(record) - Base();
}

int16_t CarveRepository() {
  int16_t slot = 0;
  EXPECT_EQ(FindFreeRepositorySlot(&slot), KHA_OK);
  return slot;
}

int16_t CarveFileSet() {
  int16_t slot = 0;
  EXPECT_EQ(FindFreeFileSetSlot(&slot), KHA_OK);
  return slot;
}

// A region of a chosen size, searched with the HistAdmin mutex held.
class SlotSearch : public kha::test::RegionTest {
 protected:
  void SetUp() override {
    kha::test::RegionTest::SetUp();
    LockHistAdminMutex();
  }
  void TearDown() override {
    UnlockHistAdminMutex();
    kha::test::RegionTest::TearDown();
  }
};

TEST_F(SlotSearch, RecordsLieWhereTheLayoutPutsThemAndAnEmptyRegionHandsOutSlotOne) {
  ASSERT_EQ(HistAdminHeader()->RegionSize, 1000000u);
  EXPECT_EQ(OffsetOf(RepositoryRecordAt(1)), 998856);  // the last 1144 bytes
  EXPECT_EQ(OffsetOf(RepositoryRecordAt(2)), 997712);
  EXPECT_EQ(OffsetOf(FileSetRecordAt(1)), 692);
  EXPECT_EQ(OffsetOf(FileSetRecordAt(3)), 1892);
  EXPECT_EQ(OffsetOf(kha::HistAdminTuning()), 12);
  for (const int32_t slot : {0, -1}) {
    EXPECT_EQ(RepositoryRecordAt(slot), nullptr);
    EXPECT_EQ(FileSetRecordAt(slot), nullptr);
  }
  EXPECT_EQ(FreeSpace(), 1000000u - kTables);
  ASSERT_EQ(CarveRepository(), 1);
  EXPECT_EQ(RepositoryRecordAt(1)->Index, 1);
  EXPECT_EQ(RepositoryRecordAt(1)->SlotUsage, 0);
  ASSERT_EQ(CarveFileSet(), 1);
  EXPECT_EQ(FileSetRecordAt(1)->Index, 1);
  EXPECT_EQ(FileSetRecordAt(1)->SlotUsage, 0);
  EXPECT_EQ(HistAdminHeader()->ReposHighWater, 1);
  EXPECT_EQ(HistAdminHeader()->FSHighWater, 1);
  EXPECT_EQ(FreeSpace(), 1000000u - kTables - kRepo - kFileSet);
}

TEST_F(SlotSearch, AFreeSlotIsHandedOutUntilItIsTaken) {
  ASSERT_EQ(CarveRepository(), 1);
  EXPECT_EQ(CarveRepository(), 1);  // carved but still free
  EXPECT_EQ(HistAdminHeader()->ReposHighWater, 1);
  RepositoryRecordAt(1)->SlotUsage = kha::kSlotInUse;
  EXPECT_EQ(CarveRepository(), 2);
  RepositoryRecordAt(2)->SlotUsage = kha::kSlotInUse;
  EXPECT_EQ(CarveRepository(), 3);
  RepositoryRecordAt(3)->SlotUsage = kha::kSlotInUse;
  // The lowest free slot wins, and the high-water mark stays.
  RepositoryRecordAt(3)->SlotUsage = kha::kSlotFree;
  RepositoryRecordAt(2)->SlotUsage = kha::kSlotFree;
  EXPECT_EQ(CarveRepository(), 2);
  EXPECT_EQ(HistAdminHeader()->ReposHighWater, 3);
}

class TwoOfEachRegion : public SlotSearch {
 protected:
  uint32_t RegionSize() const override { return kTables + 2 * kFileSet + 2 * kRepo; }
};

// A full region (no free space) still hands out the slots freed in it,
// lowest first, and no more.
TEST_F(TwoOfEachRegion, FreedSlotsAcceptRecordsUpToTheirNumber) {
  for (int16_t k = 1; k <= 2; ++k) {
    ASSERT_EQ(CarveRepository(), k);
    RepositoryRecordAt(k)->SlotUsage = kha::kSlotInUse;
    ASSERT_EQ(CarveFileSet(), k);
    FileSetRecordAt(k)->SlotUsage = kha::kSlotInUse;
  }
  ASSERT_EQ(FreeSpace(), 0u);
  for (int16_t k = 1; k <= 2; ++k) {
    RepositoryRecordAt(k)->SlotUsage = kha::kSlotFree;
    FileSetRecordAt(k)->SlotUsage = kha::kSlotFree;
  }
  for (int16_t k = 1; k <= 2; ++k) {
    EXPECT_EQ(CarveRepository(), k);
    RepositoryRecordAt(k)->SlotUsage = kha::kSlotInUse;
    EXPECT_EQ(CarveFileSet(), k);
    FileSetRecordAt(k)->SlotUsage = kha::kSlotInUse;
  }
  int16_t slot = 7;
  EXPECT_EQ(FindFreeRepositorySlot(&slot), KHA_NO_SPACE);
  EXPECT_EQ(slot, 0);
  slot = 7;
  EXPECT_EQ(FindFreeFileSetSlot(&slot), KHA_NO_SPACE);
  EXPECT_EQ(slot, 0);
  EXPECT_EQ(HistAdminHeader()->ReposHighWater, 2);
  EXPECT_EQ(HistAdminHeader()->FSHighWater, 2);
}

class RegionWith1143Free : public SlotSearch {
 protected:
  uint32_t RegionSize() const override { return kTables + kRepo - 1; }
};

TEST_F(RegionWith1143Free, TakesAFileSetButNoRepository) {
  ASSERT_EQ(FreeSpace(), 1143u);
  int16_t slot = 0;
  EXPECT_EQ(FindFreeRepositorySlot(&slot), KHA_NO_SPACE);
  EXPECT_EQ(HistAdminHeader()->ReposHighWater, 0);
  EXPECT_EQ(CarveFileSet(), 1);
  EXPECT_EQ(FreeSpace(), 543u);
}

TEST(SlotSearchDetached, NothingMappedFindsNothing) {
  int16_t slot = 5;
  EXPECT_EQ(FindFreeRepositorySlot(&slot), KHA_NOT_MAPPED);
  EXPECT_EQ(slot, 0);
  slot = 5;
  EXPECT_EQ(FindFreeFileSetSlot(&slot), KHA_NOT_MAPPED);
  EXPECT_EQ(slot, 0);
  EXPECT_EQ(RepositoryRecordAt(1), nullptr);
  EXPECT_EQ(FileSetRecordAt(1), nullptr);
  EXPECT_EQ(kha::RepositoryInTable(1), nullptr);
  EXPECT_EQ(kha::FileSetInTable(1), nullptr);
  EXPECT_EQ(kha::NextFileSetIndex(1), 0);
  EXPECT_EQ(FreeSpace(), 0u);
}

// Headers that another process may have written, however wrongly: no
// accessor and no search may ever give an address outside the view.
class HostileHeader : public SlotSearch {
 protected:
  static constexpr uint32_t kSmall = 20000;
  uint32_t RegionSize() const override { return kSmall; }

  std::size_t ViewLength() const { return kha::HistAdminProcess().view_length.load(); }

  bool Inside(const void* record, std::size_t size) const {
    const std::ptrdiff_t offset = OffsetOf(record);
    return offset >= static_cast<std::ptrdiff_t>(kTables) &&
           offset + static_cast<std::ptrdiff_t>(size) <= static_cast<std::ptrdiff_t>(ViewLength());
  }

  void ExpectEveryAddressInside() {
    // The view holds at most 17 repository and 32 file-set records: the
    // small numbers cover every record that could fit, the large ones the
    // 16-bit limits.
    std::vector<int32_t> slots = {32766, 32767, 32768, 65535, 1 << 20, INT32_MAX, INT32_MIN};
    for (int32_t k = -3; k <= 40; ++k) slots.push_back(k);
    for (int32_t k : slots) {
      const void* repository = RepositoryRecordAt(k);
      const void* repository_in_table = kha::RepositoryInTable(k);
      const void* file_set = FileSetRecordAt(k);
      const void* file_set_in_table = kha::FileSetInTable(k);
      ASSERT_TRUE(repository == nullptr || Inside(repository, kRepo)) << "repository " << k;
      ASSERT_TRUE(repository_in_table == nullptr || Inside(repository_in_table, kRepo)) << k;
      ASSERT_TRUE(file_set == nullptr || Inside(file_set, kFileSet)) << "file set " << k;
      ASSERT_TRUE(file_set_in_table == nullptr || Inside(file_set_in_table, kFileSet)) << k;
      (void)kha::NextFileSetIndex(k);
    }
    for (int round = 0; round < 3; ++round) {
      int16_t slot = 0;
      if (FindFreeRepositorySlot(&slot) == KHA_OK) {
        ASSERT_NE(RepositoryRecordAt(slot), nullptr) << "handed out repository slot " << slot;
      }
      if (FindFreeFileSetSlot(&slot) == KHA_OK) {
        ASSERT_NE(FileSetRecordAt(slot), nullptr) << "handed out file-set slot " << slot;
      }
    }
    // Free space never claims more than lies between the tables' ends.
    EXPECT_LE(FreeSpace(), ViewLength() - kTables);
  }

  // The slots in view are all that fit: the next one of either table
  // would reach into the tuning block or past the view, whatever
  // RegionSize claims (repository slots only where it claims no more than
  // the view).
  void ExpectSlotsInViewAreAllThatFit(uint32_t size) {
    const auto offset = [](const void* record) { return static_cast<int64_t>(OffsetOf(record)); };
    const kha::TableGeometry geometry = kha::ReadTableGeometry();
    const int32_t repositories = geometry.repository_slots_in_view;
    EXPECT_EQ(repositories == 0, RepositoryRecordAt(1) == nullptr);
    if (repositories > 0) {
      EXPECT_LE(size, ViewLength());
      EXPECT_LT(offset(RepositoryRecordAt(repositories)) - kRepo, int64_t{kTables});
    }
    EXPECT_EQ(RepositoryRecordAt(repositories + 1), nullptr);
    const int32_t file_sets = geometry.file_set_slots_in_view;
    ASSERT_NE(FileSetRecordAt(file_sets), nullptr);
    EXPECT_GT(offset(FileSetRecordAt(file_sets)) + 2 * kFileSet,
              static_cast<int64_t>(ViewLength()));
    EXPECT_EQ(FileSetRecordAt(file_sets + 1), nullptr);
  }
};

TEST_F(HostileHeader, NoRegionSizeOrHighWaterLeadsOutsideTheView) {
  ASSERT_GE(ViewLength(), kSmall);
  // Too small for one repository slot (692 + 1143), just enough, and
  // around the view's end.
  std::vector<uint32_t> sizes = {0, 1, 691, 692, 693, 1835, 1836, kSmall, 0x80000000u, 0xFFFFFFFFu};
  for (const int near : {-600, -1, 0, 1})
    sizes.push_back(static_cast<uint32_t>(static_cast<int64_t>(ViewLength()) + near));
  const int16_t marks[] = {-32768, -1, 0, 1, 15, 16, 17, 31, 32, 33, 32767};
  for (uint32_t size : sizes) {
    SCOPED_TRACE(size);
    HistAdminHeader()->RegionSize = size;
    ExpectSlotsInViewAreAllThatFit(size);
    for (int16_t repos : marks) {
      for (int16_t file_sets : marks) {
        SCOPED_TRACE(testing::Message() << size << " " << repos << " " << file_sets);
        KestiHistAdminRegionHeader* header = HistAdminHeader();
        header->RegionSize = size;
        header->ReposHighWater = repos;
        header->FSHighWater = file_sets;
        ExpectEveryAddressInside();
        if (HasFatalFailure()) return;
      }
    }
  }
}

TEST_F(HostileHeader, NegativeFreeSpaceIsNoSpace) {
  KestiHistAdminRegionHeader* header = HistAdminHeader();
  header->ReposHighWater = 17;  // 17 * 1144 + 692 > 20000
  EXPECT_EQ(FreeSpace(), 0u);
  int16_t slot = 0;
  // Slots 1..17 are "carved": the ones that fit are searched, but no new
  // one is carved into negative free space.
  for (int k = 1; k <= 17; ++k) {
    if (auto* record = RepositoryRecordAt(k)) record->SlotUsage = kha::kSlotInUse;
  }
  EXPECT_EQ(FindFreeRepositorySlot(&slot), KHA_NO_SPACE);
  EXPECT_EQ(FindFreeFileSetSlot(&slot), KHA_NO_SPACE);
  EXPECT_EQ(header->ReposHighWater, 17);
  EXPECT_EQ(header->FSHighWater, 0);
}

}  // namespace
