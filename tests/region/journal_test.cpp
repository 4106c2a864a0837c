// The undo journal itself: what a unit records, the replay newest first,
// a replay repeated, hostile entries, and units refused by a journal that
// is full or not this build's.
#include "region/journal.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <new>
#include <vector>

#include "kestihistadmin.h"
#include "region/process_state.h"
#include "region/region_view.h"
#include "support/region_fixture.h"

namespace kha {
namespace {

std::vector<std::byte> JournalBytes() {
  const ProcessState& process = HistAdminProcess();
  const std::byte* journal = process.journal.load();
  return {journal, journal + process.journal_length.load()};
}

uint32_t JournalState() { return LoadJournalWord(*UsableJournal(), kJournalStateOffset); }

class Journal : public test::RegionTest {
 protected:
  uint32_t RegionSize() const override { return 40000; }
};

// An operation that an exception leaves half way is rolled back as it
// goes, never kept half done (the export then returns -2005).
TEST_F(Journal, AUnitLeftByAnExceptionIsRolledBack) {
  LockHistAdminMutex();
  const std::vector<std::byte> before = test::RegionViewBytes();
  try {
    const JournalUnit unit;
    RegionHeader* header = HistAdminHeader();
    ASSERT_TRUE(SaveHeaderForUndo(*header));
    header->NumberRepos = 7;
    throw std::bad_alloc();
  } catch (const std::bad_alloc&) {
  }
  EXPECT_EQ(test::RegionViewBytes(), before);
  EXPECT_EQ(JournalState(), 0u);
  UnlockHistAdminMutex();
}

TEST_F(Journal, ReplayPutsBackTheOldestBytesNewestFirstAndCanBeRepeated) {
  std::vector<std::byte> tuning(sizeof(TuningData));
  for (std::size_t i = 0; i < tuning.size(); ++i) tuning[i] = static_cast<std::byte>(i * 7);
  ASSERT_EQ(PutKestiHistAdminTuningData(tuning.data()), KHA_OK);
  LockHistAdminMutex();
  const std::vector<std::byte> before = test::RegionViewBytes();
  std::vector<std::byte> open_journal;
  uint32_t open_state = 0;
  {
    const JournalUnit unit;
    TuningData* block = HistAdminTuning();
    RegionHeader* header = HistAdminHeader();
    ASSERT_TRUE(SaveForUndo(*block));
    std::memset(block, 0x11, sizeof(TuningData));
    // The first 100 bytes again: a forward replay would end with 0x11.
    ASSERT_TRUE(SaveForUndo(block, 100));
    std::memset(block, 0x22, 100);
    ASSERT_TRUE(SaveHeaderForUndo(*header));
    header->NumberRepos = 7;
    ASSERT_TRUE(SaveHeaderForUndo(*header));  // once per unit
    header->NumberRepos = 8;
    open_state = JournalState();
    open_journal = JournalBytes();
  }
  EXPECT_EQ(JournalState(), 0u);
  EXPECT_EQ(open_state, JournalEntrySize(sizeof(TuningData)) + JournalEntrySize(100) +
                            JournalEntrySize(sizeof(RegionHeader)));
  std::vector<std::byte> region = test::RegionViewBytes();
  ASSERT_NE(region, before);
  for (int replay = 0; replay < 2; ++replay) {
    EXPECT_EQ(ReplayJournal(open_journal.data(), open_journal.size(), region.data(), region.size(),
                            open_state),
              3u);
    EXPECT_EQ(region, before) << "replay " << replay;
  }
  UnlockHistAdminMutex();
}

// A journal of its own, with entries written by hand.
class HandMadeJournal {
 public:
  explicit HandMadeJournal(uint32_t capacity) : bytes_(kJournalHeaderSize + capacity) {
    JournalHeader header{};
    header.Magic = kJournalMagic;
    header.Layout = kJournalLayout;
    header.Capacity = capacity;
    std::memcpy(bytes_.data(), &header, sizeof header);
  }
  // `claimed`: the length the trailer gives, when it lies.
  void Add(uint32_t offset, uint32_t length, std::byte fill, uint32_t claimed = 0) {
    std::vector<std::byte> entry(JournalEntrySize(length), fill);
    const JournalEntryTrailer trailer{offset, claimed != 0 ? claimed : length};
    std::memcpy(entry.data() + JournalPadded(length), &trailer, sizeof trailer);
    std::memcpy(bytes_.data() + kJournalHeaderSize + used_, entry.data(), entry.size());
    used_ += static_cast<uint32_t>(entry.size());
  }
  uint32_t Replay(std::vector<std::byte>& view, uint32_t used) {
    return ReplayJournal(bytes_.data(), bytes_.size(), view.data(), view.size(), used);
  }
  uint32_t used() const { return used_; }

 private:
  std::vector<std::byte> bytes_;
  uint32_t used_ = 0;
};

TEST(JournalReplay, EntriesOutsideTheViewAreSkippedAndBrokenOnesEndTheWalk) {
  const std::vector<std::byte> blank(4096, std::byte{0});
  std::vector<std::byte> view = blank;
  HandMadeJournal journal(1024);
  journal.Add(12, 4, std::byte{0xA1});
  journal.Add(4094, 4, std::byte{0xB2});            // runs past the view
  journal.Add(0xFFFFFFF0u, 0x20, std::byte{0xC3});  // wraps
  EXPECT_EQ(journal.Replay(view, journal.used()), 1u);
  std::vector<std::byte> expected = blank;
  std::memset(expected.data() + 12, 0xA1, 4);
  EXPECT_EQ(view, expected);

  // Bytes in use beyond the capacity, or not a whole number of entries,
  // are not trusted at all.
  view = blank;
  EXPECT_EQ(journal.Replay(view, 2048), 0u);
  EXPECT_EQ(journal.Replay(view, journal.used() - 4), 0u);
  EXPECT_EQ(view, blank);

  // An entry that claims more bytes than lie before it hides where the
  // earlier ones begin: the walk ends there, newer entries are replayed.
  HandMadeJournal lying(1024);
  lying.Add(100, 8, std::byte{0xD4});
  lying.Add(200, 8, std::byte{0xE5}, /*claimed=*/900);
  lying.Add(300, 8, std::byte{0xF6});
  view = blank;
  EXPECT_EQ(lying.Replay(view, lying.used()), 1u);
  EXPECT_EQ(view[300], std::byte{0xF6});
  EXPECT_EQ(view[200], std::byte{0});
  EXPECT_EQ(view[100], std::byte{0});
}

TEST_F(Journal, AFullOrForeignJournalRefusesAndLeavesTheRegionAsItWas) {
  uint16_t slot = 0, number = 0, fs_number = 0, fs_slot = 0;
  ASSERT_EQ(AddKestiHistAdminOneRepository("Alpha", 1, &slot, &number), KHA_OK);
  ASSERT_EQ(AddKestiHistAdminOneFileSet(slot, &fs_number, &fs_slot), KHA_OK);
  LockHistAdminMutex();
  JournalHeader* journal = UsableJournal();
  const uint32_t capacity = journal->Capacity;
  // Room for the carving of a new slot (the header and the new record),
  // not for the chain fields the add writes after it.
  journal->Capacity =
      static_cast<uint32_t>(JournalEntrySize(sizeof(RegionHeader)) +
                            JournalEntrySize(sizeof(FileSetRecord)) + JournalEntrySize(6) - 8);
  const std::vector<std::byte> before = test::RegionViewBytes();
  EXPECT_EQ(AddKestiHistAdminOneFileSet(slot, &fs_number, &fs_slot), KHA_NO_SPACE);
  EXPECT_EQ(test::RegionViewBytes(), before);
  EXPECT_EQ(JournalState(), 0u);
  journal->Capacity = 0;
  EXPECT_EQ(DeleteKestiHistAdminOneRepository(slot), KHA_NO_SPACE);
  EXPECT_EQ(test::RegionViewBytes(), before);
  journal->Capacity = capacity;

  // A journal of another layout is never written (nor replayed).
  const uint32_t layout = journal->Layout;
  journal->Layout = layout + 1;
  std::vector<std::byte> tuning(sizeof(TuningData), std::byte{0x5A});
  EXPECT_EQ(PutKestiHistAdminTuningData(tuning.data()), KHA_NO_SPACE);
  EXPECT_EQ(PutKestiHistAdminHeader(0xFFFFFFFFu, -1, 3, -1, -1), KHA_NO_SPACE);
  EXPECT_EQ(test::RegionViewBytes(), before);
  journal->Layout = layout;
  UnlockHistAdminMutex();

  // Back to normal, the same operations go through.
  EXPECT_EQ(AddKestiHistAdminOneFileSet(slot, &fs_number, &fs_slot), KHA_OK);
  EXPECT_EQ(fs_number, 2);
  EXPECT_EQ(DeleteKestiHistAdminOneRepository(slot), KHA_OK);
}

}  // namespace
}  // namespace kha
