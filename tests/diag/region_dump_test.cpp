// The text of the region dump, captured from standard output, for regions
// written record by record into the mapped view.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "kestihistadmin.h"
#include "region/region_view.h"
#include "support/region_fixture.h"

namespace {

using kha::FileSetRecord;
using kha::RepositoryRecord;

class RegionDumpTest : public kha::test::RegionTest {
 protected:
  static std::string Dump() {
    testing::internal::CaptureStdout();
    PrintKestiHistAdminAllRepository();
    return testing::internal::GetCapturedStdout();
  }

  static void SetHighWater(int16_t repos, uint16_t number_repos, int16_t file_sets,
                           uint16_t number_file_sets) {
    kha::RegionHeader* header = kha::HistAdminHeader();
    ASSERT_NE(header, nullptr);
    header->ReposHighWater = repos;
    header->NumberRepos = number_repos;
    header->FSHighWater = file_sets;
    header->NumberFileSets = number_file_sets;
  }

  static RepositoryRecord& Repository(int16_t slot) {
    RepositoryRecord* record = kha::RepositoryRecordAt(slot);
    EXPECT_NE(record, nullptr);
    return *record;
  }

  static FileSetRecord& FileSet(int16_t slot) {
    FileSetRecord* record = kha::FileSetRecordAt(slot);
    EXPECT_NE(record, nullptr);
    return *record;
  }

  // A repository in use with a chain of `chain` (slots, in chain order).
  static RepositoryRecord& UseRepository(int16_t slot, const char* name,
                                         std::initializer_list<int16_t> chain) {
    RepositoryRecord& r = Repository(slot);
    std::memset(&r, 0, sizeof r);
    std::strcpy(r.RepositoryName, name);
    r.SlotUsage = 1;
    r.Index = slot;
    r.NumberFS = static_cast<int16_t>(chain.size());
    int16_t previous = 0;
    for (int16_t fs : chain) {
      FileSetRecord& f = FileSet(fs);
      std::memset(&f, 0, sizeof f);
      f.SlotUsage = 1;
      f.Index = fs;
      f.ReposIndex = slot;
      if (previous == 0) {
        r.FirstFS = fs;
      } else {
        FileSet(previous).NextIndex = fs;
      }
      previous = fs;
    }
    r.LastFS = previous;
    return r;
  }
};

TEST_F(RegionDumpTest, EmptyOrNotAttachedPrintsNothing) {
  EXPECT_EQ(Dump(), "");
  kha::test::DetachCompletely();
  EXPECT_EQ(Dump(), "");
}

// The dump's blocks, each '@' standing for one value as printed.
constexpr const char* kRepositoryBlock = R"(
Repository Name = *@*
Status = @
FilePath = *@*
Pending FilePath = *@*
BackupFilePath = *@*
PendingBackupFilePath = *@*
NumberPoints = @
Pending NumberPointers = @
QueueSize = @
Pending QueueSize = @
GlobalFileSetSize = @
GlobalThreshold = @
Pending globalThreshold = @
GlobalTimeSpan = @
Pending GlobalTimeSpan = @
FutureTime = @
PastTime = @
CacheSize = @
Pending CacheSize = @
InsertSize = @
Pending InsertSize = @
EmptyFilesets = @
Pending EmptyFilesets = @
SlotUsage = @
Index = @
NumberFS = @
FirstFS = @
LastFS = @
)";
constexpr const char* kFileSetBlock = R"(
FileSetNumber = @
Record Status = @
FilePath = *@*
Pending FilePath = *@*
StartTime secs = @, usecs = @
EndTime secs = @, usecs = @
Param Source = @
Size = @
Pending Size = @
Threshold = @
Pending Threshold = @
Timespan = @
Pending Timespan = @
Percentage = @
SlotUsage = @
History Status = @
Index = @
ReposIndex = @
NextIndex = @
)";

// `block` with its '@'s replaced by the '|'-separated `values`, in order;
// exactly as many.
std::string Fill(const char* block, const std::string& values) {
  std::string text = block;
  std::size_t from = 0;
  for (std::size_t at = text.find('@'); at != std::string::npos; at = text.find('@', at)) {
    if (from > values.size()) {
      ADD_FAILURE() << "too few values";
      break;
    }
    const std::size_t bar = std::min(values.find('|', from), values.size());
    text.replace(at, 1, values, from, bar - from);
    at += bar - from;
    from = bar + 1;
  }
  EXPECT_EQ(from, values.size() + 1) << "too many values";
  return text;
}

// Freed slots are skipped, chains come out in chain order (not slot
// order), a repository without file sets gets no file-set block, and every
// value is printed with its sign, floats with six decimals.
TEST_F(RegionDumpTest, PrintsRepositoriesInSlotOrderWithTheirChains) {
  SetHighWater(3, 2, 4, 3);

  RepositoryRecord& abc = UseRepository(1, "abc", {3, 1, 2});
  abc.Status = 1;
  std::strcpy(abc.FilePath, "/hist/abc");
  std::strcpy(abc.PendingFilePath, "/hist/abc2");
  std::strcpy(abc.BackupFilePath, "/bak/abc");
  abc.NumberPoints = 100;
  abc.PendingNumberPoints = 200;
  abc.QueueSize = -5;
  abc.PendingQueueSize = 7;
  abc.GlobalFileSetSize = 4096;
  abc.GlobalThreshold = 0.5f;
  abc.PendingGlobalThreshold = -1.25f;
  abc.GlobalTimeSpan = 86400;
  abc.PendingGlobalTimeSpan = 3600;
  abc.FutureTime = 10;
  abc.PastTime = -10;
  abc.CacheSize = 11;
  abc.PendingCacheSize = 12;
  abc.InsertSize = 13;
  abc.PendingInsertSize = 14;
  abc.EmptyFilesets = 15;
  abc.PendingEmptyFilesets = 16;
  abc.ReposNumber = 9;  // not printed

  FileSetRecord& first = FileSet(3);
  first.RecordStatus = 3;
  std::strcpy(first.FilePath, "/hist/abc/fs3");
  std::strcpy(first.PendingFilePath, "/hist/abc/FS3");
  first.StartTime = {1700000000, 250};
  first.EndTime = {-1, -2};
  first.ParamSource = 1;
  first.Size = 1000;
  first.PendingSize = -1;
  first.Threshold = 0.5f;
  first.PendingThreshold = 2.0f;
  first.Timespan = 60;
  first.PendingTimespan = 120;
  first.Percentage = 33.25f;
  first.HistoryStatus = -3;
  std::memset(first.Spare3, 0x7F, sizeof first.Spare3);  // not printed

  FileSet(4).SlotUsage = 0;  // a freed file-set slot in no chain: never printed
  std::strcpy(FileSet(4).FilePath, "/never/printed");

  RepositoryRecord& freed = Repository(2);
  std::memset(&freed, 0, sizeof freed);
  std::strcpy(freed.RepositoryName, "freed");
  freed.Index = 2;

  RepositoryRecord& empty = UseRepository(3, "Empty Chain", {});
  empty.Status = 0;
  empty.LastFS = -2;  // 16-bit fields are printed as they stand, with their sign

  // File sets of repository slot 1 whose values are zero but for their
  // slot fields.
  const auto zero_file_set = [](const std::string& number, const std::string& slots) {
    return Fill(kFileSetBlock, number + "|0|||0|0|0|0|0|0|0|0.000000|0.000000|0|0|0.000000|1|0|" +
                                   slots);  // Index|ReposIndex|NextIndex
  };
  const std::string expected =
      Fill(kRepositoryBlock,
           "abc|1|/hist/abc|/hist/abc2|/bak/abc||100|200|-5|7|4096|0.500000|-1.250000|86400|3600|"
           "10|-10|11|12|13|14|15|16|1|1|3|3|2") +
      Fill(kFileSetBlock,
           "1|3|/hist/abc/fs3|/hist/abc/FS3|1700000000|250|-1|-2|1|1000|-1|0.500000|2.000000|60|"
           "120|33.250000|1|-3|3|1|1") +
      zero_file_set("2", "1|1|2") + zero_file_set("3", "2|1|0") +
      Fill(kRepositoryBlock,
           "Empty Chain|0|||||0|0|0|0|0|0.000000|0.000000|0|0|0|0|0|0|0|0|0|0|1|3|0|0|-2");
  EXPECT_EQ(Dump(), expected);
}

// Counts how often `needle` occurs in `text`.
int Occurrences(const std::string& text, const std::string& needle) {
  int count = 0;
  for (auto at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) {
    ++count;
  }
  return count;
}

TEST_F(RegionDumpTest, ChainWalkStopsAtNumberFSAtNextIndexZeroAndOutsideTheTable) {
  SetHighWater(3, 3, 4, 4);
  // A cycle 1 -> 2 -> 1 ...: NumberFS bounds the walk.
  RepositoryRecord& cycle = UseRepository(1, "cycle", {1, 2});
  FileSet(2).NextIndex = 1;
  cycle.NumberFS = 5;
  // NumberFS larger than the chain: the walk ends at NextIndex 0.
  RepositoryRecord& short_chain = UseRepository(2, "short", {3});
  short_chain.NumberFS = 4;
  // A chain leading beyond FSHighWater: the walk stops there.
  UseRepository(3, "beyond", {4});
  FileSet(4).NextIndex = 30000;
  Repository(3).NumberFS = 2;

  const std::string text = Dump();
  EXPECT_EQ(Occurrences(text, "Repository Name = "), 3);
  EXPECT_EQ(Occurrences(text, "FileSetNumber = "), 5 + 1 + 1);
  EXPECT_EQ(Occurrences(text, "FileSetNumber = 5\n"), 1);
  EXPECT_EQ(Occurrences(text, "NextIndex = 30000\n"), 1);
}

TEST_F(RegionDumpTest, HighWaterBeyondTheViewAndUnterminatedStringsStayInside) {
  // 32767 repository slots do not fit in a 1,000,000-byte region: the scan
  // stops where the slots leave the view.
  SetHighWater(32767, 1, 0, 0);
  RepositoryRecord& r = UseRepository(1, "x", {});
  std::memset(r.RepositoryName, 'N', sizeof r.RepositoryName);  // no terminating zero
  std::memset(r.FilePath, 'P', sizeof r.FilePath);

  const std::string text = Dump();
  EXPECT_NE(text.find("Repository Name = *" + std::string(32, 'N') + "*\n"), std::string::npos);
  EXPECT_NE(text.find("\nFilePath = *" + std::string(256, 'P') + "*\n"), std::string::npos);
  EXPECT_EQ(Occurrences(text, "Repository Name = "), 1);
}

}  // namespace
