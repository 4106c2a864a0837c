// What the next taker of the mutex does after a holder died: nothing at all
// to a region with no operation in flight, however its header was shaped;
// a rollback of exactly the unfinished operation otherwise, also when a
// set-up without a view took the mutex first.
#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "kestihistadmin.h"
#include "region/journal.h"
#include "region/process_state.h"
#include "support/child_process.h"
#include "support/region_fixture.h"
#include "support/temporary_directory.h"

namespace kha {
namespace {

constexpr uint32_t kSize = 60000;

// The region's bytes as the next taker of the mutex leaves them.
std::vector<std::byte> RegionBytes() {
  LockHistAdminMutex();
  std::vector<std::byte> bytes = test::RegionViewBytes();
  UnlockHistAdminMutex();
  return bytes;
}

uint32_t JournalWord(std::size_t offset) { return LoadJournalWord(*UsableJournal(), offset); }

// Alpha with three file sets, Beta with one, Gamma with none, and a freed
// repository and file set.
void Populate() {
  uint16_t slot = 0, alpha = 0, number = 0, fs_number = 0, fs_slot = 0;
  ASSERT_EQ(AddKestiHistAdminOneRepository("Alpha", 1, &alpha, &number), KHA_OK);
  ASSERT_EQ(AddKestiHistAdminOneRepository("Beta", 3, &slot, &number), KHA_OK);
  ASSERT_EQ(AddKestiHistAdminOneFileSet(slot, &fs_number, &fs_slot), KHA_OK);
  for (int i = 0; i < 3; ++i)
    ASSERT_EQ(AddKestiHistAdminOneFileSet(alpha, &fs_number, &fs_slot), KHA_OK);
  ASSERT_EQ(AddKestiHistAdminOneRepository("Gone", 1, &slot, &number), KHA_OK);
  ASSERT_EQ(AddKestiHistAdminOneFileSet(slot, &fs_number, &fs_slot), KHA_OK);
  ASSERT_EQ(AddKestiHistAdminOneRepository("Gamma", 1, &slot, &number), KHA_OK);
  ASSERT_EQ(DeleteKestiHistAdminOneRepository(3), KHA_OK);
}

// Ends holding the mutex, after whole operations only.
void ThreadEndsHolding() {
  std::thread([] { LockHistAdminMutex(); }).join();
}

// Ends holding the mutex in the middle of `change`: its unit never ends.
template <typename Change>
void ThreadDiesDuring(Change&& change) {
  std::thread([&] {
    LockHistAdminMutex();
    alignas(JournalUnit) static unsigned char storage[sizeof(JournalUnit)];
    new (storage) JournalUnit();  // never destroyed: the holder is dead
    change();
  }).join();
}

int HoldAndWait(const std::vector<std::string>& args) {
  test::DieWithParent();
  if (args.size() != 1 || AttachToKestiHistAdminSharedMemory() != KHA_OK) return 2;
  LockHistAdminMutex();
  if (!test::Touch(args[0])) return 3;
  test::WaitToBeKilled();
}
KHA_CHILD_ROLE("takeover-hold-and-wait", HoldAndWait);

int SetUpTooSmall(const std::vector<std::string>&) {
  return SetupAndAttachToKestiHistAdminSharedMemory(100) == KHA_NO_SPACE ? 0 : 1;
}
KHA_CHILD_ROLE("takeover-set-up-too-small", SetUpTooSmall);

class Takeover : public test::RegionTest {
 protected:
  uint32_t RegionSize() const override { return kSize; }
};

TEST_F(Takeover, AShapedRegionWithNoOperationInFlightIsLeftByteForByte) {
  Populate();
  uint32_t size = 0;
  uint16_t rhw = 0, nr = 0, fhw = 0, nfs = 0;
  ASSERT_EQ(GetKestiHistAdminHeader(&size, &rhw, &nr, &fhw, &nfs), KHA_OK);
  struct Shape {
    const char* what;
    uint32_t size;
    int16_t repos_high_water, number_repos, fs_high_water, number_file_sets;
  };
  const std::vector<Shape> shapes = {
      {"repository slot 2 and up hidden, odd counts", size, 1, 9, -1, 1},
      {"last file-set slot hidden", size, static_cast<int16_t>(rhw), static_cast<int16_t>(nr),
       static_cast<int16_t>(fhw - 1), static_cast<int16_t>(nfs)},
      {"RegionSize moved down by one repository", size - 1144, static_cast<int16_t>(rhw), 0,
       static_cast<int16_t>(fhw), 40},
  };
  test::TemporaryDirectory scratch("kha-takeover");
  ASSERT_TRUE(scratch.Made());
  int child_number = 0;
  for (const Shape& shape : shapes) {
    SCOPED_TRACE(shape.what);
    ASSERT_EQ(PutKestiHistAdminHeader(shape.size, shape.repos_high_water, shape.number_repos,
                                      shape.fs_high_water, shape.number_file_sets),
              KHA_OK);
    const std::vector<std::byte> shaped = RegionBytes();
    ThreadEndsHolding();
    EXPECT_EQ(RegionBytes(), shaped) << "after a thread ended holding the mutex";
    const std::string ready = scratch.File("held" + std::to_string(child_number++));
    test::Child holder("takeover-hold-and-wait", {ready});
    EXPECT_TRUE(test::WaitForFileFrom(ready, holder));
    holder.Kill();
    EXPECT_EQ(holder.Wait(), test::kKilledExitCode);
    EXPECT_EQ(RegionBytes(), shaped) << "after a process was killed holding the mutex";
    // Back to the real header: the tables are as they were.
    ASSERT_EQ(PutKestiHistAdminHeader(size, static_cast<int16_t>(rhw), static_cast<int16_t>(nr),
                                      static_cast<int16_t>(fhw), static_cast<int16_t>(nfs)),
              KHA_OK);
  }
  EXPECT_EQ(JournalWord(offsetof(JournalHeader, Takeovers)), 0u);
}

TEST_F(Takeover, ADeadHoldersChangeIsRolledBackAfterASetUpWithoutAViewTookTheMutex) {
  Populate();
  const std::vector<std::byte> before = RegionBytes();
  // Alpha, slot 1, is deleted with its chain; the holder dies before the
  // unit ends.
  ThreadDiesDuring([] { ASSERT_EQ(DeleteKestiHistAdminOneRepository(1), KHA_OK); });
  EXPECT_NE(JournalWord(kJournalStateOffset), 0u);

  // A process that is not attached takes the abandoned mutex first and
  // fails before it maps anything: the journal stays open.
  test::Child early("takeover-set-up-too-small");
  EXPECT_EQ(early.Wait(), 0);
  EXPECT_NE(JournalWord(kJournalStateOffset), 0u);

  // The next taker with a view rolls back.
  EXPECT_EQ(RegionBytes(), before);
  EXPECT_EQ(JournalWord(kJournalStateOffset), 0u);
  EXPECT_EQ(JournalWord(offsetof(JournalHeader, Takeovers)), 1u);
  uint16_t slot = 0, number = 0;
  EXPECT_EQ(SearchKestiHistAdminRepositoryByName("Alpha", &slot, &number), KHA_OK);
  EXPECT_EQ(slot, 1);
}

TEST_F(Takeover, ALoadWhoseHolderDiedIsRecordedAsInterrupted) {
  std::thread([] {
    LockHistAdminMutex();
    alignas(TransferMark) static unsigned char storage[sizeof(TransferMark)];
    new (storage) TransferMark(TransferKind::kLoadFromConfig);
  }).join();
  LockHistAdminMutex();
  EXPECT_EQ(JournalWord(offsetof(JournalHeader, Interrupted)),
            static_cast<uint32_t>(TransferKind::kLoadFromConfig));
  EXPECT_EQ(JournalWord(kJournalStateOffset), 0u);
  {
    // The same load failing keeps the record; run to its end, it clears it.
    TransferMark failed(TransferKind::kLoadFromConfig);
    (void)failed.Ended(KHA_CONFIG_READ_FAILED);
  }
  EXPECT_EQ(JournalWord(offsetof(JournalHeader, Interrupted)),
            static_cast<uint32_t>(TransferKind::kLoadFromConfig));
  {
    TransferMark finished(TransferKind::kLoadFromConfig);
    (void)finished.Ended(KHA_OK);
  }
  EXPECT_EQ(JournalWord(offsetof(JournalHeader, Interrupted)), 0u);
  UnlockHistAdminMutex();
}

}  // namespace
}  // namespace kha
