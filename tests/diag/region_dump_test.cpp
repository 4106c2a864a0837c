// The text of the region dump, captured from standard output, for regions
// written record by record into the mapped view.
#include <gtest/gtest.h>

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

TEST_F(RegionDumpTest, EmptyRegionPrintsNothing) { EXPECT_EQ(Dump(), ""); }

TEST_F(RegionDumpTest, NotAttachedPrintsNothingAndTouchesNothing) {
  kha::test::DetachCompletely();
  EXPECT_EQ(Dump(), "");
}

// The block of a file set of chain position `number` whose values are all
// zero but for its slot fields (repository slot 1).
std::string ZeroFileSet(int number, int index, int next) {
  return "\nFileSetNumber = " + std::to_string(number) + R"(
Record Status = 0
FilePath = **
Pending FilePath = **
StartTime secs = 0, usecs = 0
EndTime secs = 0, usecs = 0
Param Source = 0
Size = 0
Pending Size = 0
Threshold = 0.000000
Pending Threshold = 0.000000
Timespan = 0
Pending Timespan = 0
Percentage = 0.000000
SlotUsage = 1
History Status = 0
Index = )" +
         std::to_string(index) + "\nReposIndex = 1\nNextIndex = " + std::to_string(next) + "\n";
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

  const std::string expected = R"(
Repository Name = *abc*
Status = 1
FilePath = */hist/abc*
Pending FilePath = */hist/abc2*
BackupFilePath = */bak/abc*
PendingBackupFilePath = **
NumberPoints = 100
Pending NumberPointers = 200
QueueSize = -5
Pending QueueSize = 7
GlobalFileSetSize = 4096
GlobalThreshold = 0.500000
Pending globalThreshold = -1.250000
GlobalTimeSpan = 86400
Pending GlobalTimeSpan = 3600
FutureTime = 10
PastTime = -10
CacheSize = 11
Pending CacheSize = 12
InsertSize = 13
Pending InsertSize = 14
EmptyFilesets = 15
Pending EmptyFilesets = 16
SlotUsage = 1
Index = 1
NumberFS = 3
FirstFS = 3
LastFS = 2

FileSetNumber = 1
Record Status = 3
FilePath = */hist/abc/fs3*
Pending FilePath = */hist/abc/FS3*
StartTime secs = 1700000000, usecs = 250
EndTime secs = -1, usecs = -2
Param Source = 1
Size = 1000
Pending Size = -1
Threshold = 0.500000
Pending Threshold = 2.000000
Timespan = 60
Pending Timespan = 120
Percentage = 33.250000
SlotUsage = 1
History Status = -3
Index = 3
ReposIndex = 1
NextIndex = 1
)" + ZeroFileSet(2, 1, 2) + ZeroFileSet(3, 2, 0) +
                               R"(
Repository Name = *Empty Chain*
Status = 0
FilePath = **
Pending FilePath = **
BackupFilePath = **
PendingBackupFilePath = **
NumberPoints = 0
Pending NumberPointers = 0
QueueSize = 0
Pending QueueSize = 0
GlobalFileSetSize = 0
GlobalThreshold = 0.000000
Pending globalThreshold = 0.000000
GlobalTimeSpan = 0
Pending GlobalTimeSpan = 0
FutureTime = 0
PastTime = 0
CacheSize = 0
Pending CacheSize = 0
InsertSize = 0
Pending InsertSize = 0
EmptyFilesets = 0
Pending EmptyFilesets = 0
SlotUsage = 1
Index = 3
NumberFS = 0
FirstFS = 0
LastFS = -2
)";
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
