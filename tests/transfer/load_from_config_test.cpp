// The load from the configuration files, against the scripted double.
#include <gtest/gtest.h>

#include <algorithm>

#include "transfer/transfer_fixture.h"

namespace kha::test {
namespace {

class LoadFromConfigTest : public TransferTest {
 protected:
  static void SetStatus(int repository_slot, int32_t status) {
    RepositoryRecordAt(repository_slot)->Status = status;
  }
  static void SetFileSetStatus(int repository_slot, int position, int32_t status) {
    FileSetRecordAt(FileSetSlot(repository_slot, position))->RecordStatus = status;
  }
};

TEST_F(LoadFromConfigTest, FilesNamingExactlyTheRegionConfirmEverythingIntoThePendingValues) {
  LoadRunning({Repo("A", {Arc("D:/a/1"), Arc("D:/a/2")}), Repo("B", {Arc("D:/b/1")})});
  historian().files.repositories = historian().running.repositories;
  historian().files.tuning = SampleTuning();
  for (historian::RepositoryConfig& r : historian().files.repositories) {
    r.number_points = 555;
    r.queue_size = 666;
    r.global_file_set_size = 8192;
    r.global_threshold = 0.125f;
    r.past_time = 21;
    r.future_time = 22;
    for (historian::FileSetConfig& arc : r.file_sets) {
      arc.size = 9999;
      arc.history_status = 3;
      arc.start_time = {77, 0};
    }
  }

  ASSERT_EQ(LoadFromConfigIntoKestiHistAdmin(), KHA_OK);

  EXPECT_EQ(Header().NumberRepos, 2);
  EXPECT_EQ(Header().NumberFileSets, 3);
  EXPECT_EQ(Tuning().TuningValue2, -3);
  for (int slot : {1, 2}) {
    // In effect kept where a pending twin takes the files' value, taken where there is none.
    const RepositoryRecord r = RepositoryAt(slot);
    EXPECT_EQ(
        (std::vector<int32_t>{r.Status, r.NumberPoints, r.PendingNumberPoints, r.QueueSize,
                              r.PendingQueueSize, r.GlobalFileSetSize, r.PastTime, r.FutureTime}),
        (std::vector<int32_t>{KHA_STATUS_ACTIVE, 100, 555, 200, 666, 8192, 21, 22}));
    EXPECT_EQ((std::vector<float>{r.GlobalThreshold, r.PendingGlobalThreshold}),
              (std::vector<float>{0.25f, 0.125f}));
    for (const FileSetRecord& f : Chain(slot)) {  // status and start time not from the files
      EXPECT_EQ((std::vector<int32_t>{f.RecordStatus, f.Size, f.PendingSize, f.HistoryStatus,
                                      f.StartTime.Seconds, f.ParamSource}),
                (std::vector<int32_t>{KHA_STATUS_ACTIVE, 1000, 9999, 7, 1000, 1}));
    }
  }
  EXPECT_EQ(Path(Chain(1)[1].FilePath), "D:\\a\\2");

  const std::vector<std::string> lines = historian().Lines();
  ASSERT_GE(lines.size(), 6u);
  EXPECT_EQ(lines[0], "marn_read_hist_config()");
  EXPECT_EQ(lines[1], "marn_get_tuning_data(null null)");
  EXPECT_EQ(lines[4], "marn_get_number_repositories(1)");
  EXPECT_EQ(lines[5], "marn_get_number_arcs(1 0)");
  EXPECT_EQ(historian().Lines("marn_get_rep_data")[1], "marn_get_rep_data(1 1 null)");
  EXPECT_EQ(historian().Lines("marn_get_arc_data")[2], "marn_get_arc_data(1 1 0)");
}

// Each path of a repository fixed and then converted, file path first, then
// the two paths in effect converted for the comparison.
TEST_F(LoadFromConfigTest, CallsTheLibrariesForARepositoryInOrderWithSourceOne) {
  historian().files.repositories = {Repo("Alpha", {})};
  ASSERT_EQ(LoadFromConfigIntoKestiHistAdmin(), KHA_OK);
  const std::vector<std::string> lines = historian().Lines();
  const auto header = std::find(lines.begin(), lines.end(), "marn_get_rep_data(1 0 null)");
  ASSERT_NE(header, lines.end());
  EXPECT_EQ(std::vector<std::string>(header + 1, lines.end()),
            (std::vector<std::string>{
                "fixHistoryFilePath(D:/hist/Alpha 13 1)",
                "ConvertUNC2LocalPath(D:\\hist\\Alpha)",
                "fixHistoryFilePath(E:/backup/Alpha 15 1)",
                "ConvertUNC2LocalPath(E:\\backup\\Alpha)",
                "ConvertUNC2LocalPath()",
                "ConvertUNC2LocalPath()",
            }));
}

TEST_F(LoadFromConfigTest, FileSetPathsMatchIgnoringCaseAndThroughNetworkPaths) {
  LoadRunning({Repo("A", {Arc("D:/hist/a1"), Arc("D:/hist/a2"), Arc("D:/hist/a3")})});
  historian().files.repositories = {
      Repo("a", {Arc("d:/HIST/A1"), Arc("\\\\HistServer\\D$\\hist\\a2"), Arc("D:/hist/a4")})};
  ASSERT_EQ(LoadFromConfigIntoKestiHistAdmin(), KHA_OK);

  const std::vector<FileSetRecord> chain = Chain(1);
  ASSERT_EQ(chain.size(), 4u);
  EXPECT_EQ(Path(chain[0].FilePath), "d:\\HIST\\A1");  // the path as the files spell it
  EXPECT_EQ(Path(chain[0].PendingFilePath), "d:\\HIST\\A1");
  EXPECT_EQ(Path(chain[1].PendingFilePath), "\\\\HistServer\\D$\\hist\\a2");
  EXPECT_EQ(Statuses(1), (std::vector<int32_t>{1, 1, 2, 3}));
  EXPECT_EQ(Path(chain[3].FilePath), "D:\\hist\\a4");
  EXPECT_EQ(Name(RepositoryAt(1)), "A");  // found by name ignoring case, not renamed
}

TEST_F(LoadFromConfigTest, ARepositoryPathElsewhereIsOnlyPending) {
  LoadRunning({Repo("A", {}, "D:/hist/A"), Repo("B", {}, "D:/hist/B")});
  historian().files.repositories = {Repo("A", {}, "D:/moved/A"),
                                    Repo("B", {}, "\\\\histserver\\d$\\HIST\\b")};
  historian().files.repositories[0].backup_file_path = "E:/backup/A";
  historian().files.repositories[1].backup_file_path = "F:/elsewhere";
  ASSERT_EQ(LoadFromConfigIntoKestiHistAdmin(), KHA_OK);

  const RepositoryRecord a = RepositoryAt(1);
  EXPECT_EQ(Path(a.FilePath), "D:\\hist\\A");
  EXPECT_EQ(Path(a.PendingFilePath), "D:\\moved\\A");
  EXPECT_EQ(Path(a.BackupFilePath), "E:\\backup\\A");
  const RepositoryRecord b = RepositoryAt(2);
  EXPECT_EQ(Path(b.FilePath), "\\\\histserver\\d$\\HIST\\b");  // the same place: taken
  EXPECT_EQ(Path(b.PendingFilePath), "\\\\histserver\\d$\\HIST\\b");
  EXPECT_EQ(Path(b.BackupFilePath), "E:\\backup\\B");
  EXPECT_EQ(Path(b.PendingBackupFilePath), "F:\\elsewhere");
}

TEST_F(LoadFromConfigTest, TheSamePathTwiceMatchesTheFileSetTheFirstArcMadeOrConfirmed) {
  LoadRunning({Repo("A", {Arc("a1")})});
  historian().files.repositories = {Repo("A", {Arc("a1"), Arc("A1")}),
                                    Repo("C", {Arc("c1"), Arc("C1"), Arc("c1")})};
  ASSERT_EQ(LoadFromConfigIntoKestiHistAdmin(), KHA_OK);
  EXPECT_EQ(Statuses(1), (std::vector<int32_t>{0}));
  EXPECT_EQ(Path(Chain(1)[0].PendingFilePath), "A1");
  EXPECT_EQ(Statuses(2), (std::vector<int32_t>{0}));
  EXPECT_EQ(Path(Chain(2)[0].PendingFilePath), "c1");
  EXPECT_EQ(Header().NumberFileSets, 2);
}

TEST_F(LoadFromConfigTest, LoadingTheSameFilesTwiceWithoutASave) {
  LoadRunning({Repo("A", {Arc("a1")})});
  historian().files.repositories = {Repo("A", {Arc("a1"), Arc("a2")}), Repo("N", {Arc("n1")})};
  ASSERT_EQ(LoadFromConfigIntoKestiHistAdmin(), KHA_OK);
  EXPECT_EQ(RepositoryAt(1).Status, KHA_STATUS_ACTIVE);
  EXPECT_EQ(Statuses(1), (std::vector<int32_t>{1, 3}));
  EXPECT_EQ(RepositoryAt(2).Status, KHA_STATUS_NEW);
  EXPECT_EQ(Statuses(2), (std::vector<int32_t>{3}));

  ASSERT_EQ(LoadFromConfigIntoKestiHistAdmin(), KHA_OK);
  EXPECT_EQ(RepositoryAt(1).Status, KHA_STATUS_ACTIVE);
  EXPECT_EQ(Statuses(1), (std::vector<int32_t>{1, 0}));
  EXPECT_EQ(RepositoryAt(2).Status, KHA_STATUS_NEW);
  EXPECT_EQ(Statuses(2), (std::vector<int32_t>{0}));
  EXPECT_EQ(Header().NumberFileSets, 3);
}

TEST_F(LoadFromConfigTest, ARepositoryWithStatusZeroComesBackWithNewFileSets) {
  LoadRunning({Repo("A", {Arc("a1"), Arc("a2")})});
  SetStatus(1, KHA_STATUS_NOT_SAVED);
  historian().files.repositories = {Repo("A", {Arc("a1"), Arc("a2")})};
  ASSERT_EQ(LoadFromConfigIntoKestiHistAdmin(), KHA_OK);
  EXPECT_EQ(RepositoryAt(1).Status, KHA_STATUS_NEW);
  EXPECT_EQ(Statuses(1), (std::vector<int32_t>{3, 3}));
  EXPECT_EQ(Header().NumberFileSets, 2);
}

TEST_F(LoadFromConfigTest, ArcsWithoutValuesOfTheirOwnGetTheDefaultsInThePendingValuesOnly) {
  LoadRunning({Repo("A", {Arc("a1"), Arc("a2"), Arc("a3")})});
  historian().files.repositories = {
      Repo("A", {Arc("a1", -1), Arc("a2", 50, 0.0f), Arc("a3", 50, 1.0f, 0), Arc("a4", -1)})};
  historian().files.repositories[0].global_file_set_size = 8192;
  historian().files.repositories[0].global_threshold = 0.5f;
  historian().files.repositories[0].global_time_span = 77;
  ASSERT_EQ(LoadFromConfigIntoKestiHistAdmin(), KHA_OK);
  const std::vector<FileSetRecord> chain = Chain(1);
  ASSERT_EQ(chain.size(), 4u);
  for (const FileSetRecord& f : chain) {
    EXPECT_EQ(f.ParamSource, 0);
    EXPECT_EQ(f.PendingSize, 8192);
    EXPECT_EQ(f.PendingThreshold, 0.5f);
    EXPECT_EQ(f.PendingTimespan, 77);
    EXPECT_EQ(f.Percentage, 0.0f);
  }
  EXPECT_EQ(chain[0].Size, 1000);  // in effect: as the slot holds them
  EXPECT_EQ(chain[0].Threshold, 0.5f);
  EXPECT_EQ(chain[0].Timespan, 3600);
}

TEST_F(LoadFromConfigTest, StatusTransitions) {
  LoadRunning(
      {Repo("Keep1", {Arc("k1")}), Repo("Keep0", {Arc("z1")}), Repo("Keep2", {Arc("t1")}),
       Repo("Keep3", {Arc("h1")}),
       Repo("Named1", {Arc("p"), Arc("q"), Arc("r"), Arc("s"), Arc("u"), Arc("v"), Arc("w")}),
       Repo("Named0"), Repo("Named2"), Repo("Named3"), Repo("Twice")});
  SetStatus(2, KHA_STATUS_NOT_SAVED);
  SetStatus(3, KHA_STATUS_MARKED);
  SetStatus(4, KHA_STATUS_NEW);
  SetFileSetStatus(3, 1, KHA_STATUS_NEW);
  SetStatus(6, KHA_STATUS_NOT_SAVED);
  SetStatus(7, KHA_STATUS_MARKED);
  SetStatus(8, KHA_STATUS_NEW);
  // Named1's file sets p..w: 1, 2, 0, 3 matched; 1, 0, 3 not matched.
  const int32_t before[] = {1, 2, 0, 3, 1, 0, 3};
  for (int i = 0; i < 7; ++i) SetFileSetStatus(5, i + 1, before[i]);

  historian().files.repositories = {
      Repo("Named1", {Arc("p"), Arc("q"), Arc("r"), Arc("s"), Arc("new")}),
      Repo("Named0"),
      Repo("Named2"),
      Repo("Named3"),
      Repo("Twice"),
      Repo("Added"),
      Repo("TWICE")};
  ASSERT_EQ(LoadFromConfigIntoKestiHistAdmin(), KHA_OK);

  EXPECT_EQ(RepositoryAt(1).Status, KHA_STATUS_MARKED);  // 1, not named
  EXPECT_EQ(Statuses(1), (std::vector<int32_t>{1}));     // its file sets untouched
  EXPECT_EQ(RepositoryAt(2).Status, KHA_STATUS_NOT_SAVED);
  EXPECT_EQ(RepositoryAt(2).NumberFS, 0);  // a 0 loses its file sets
  EXPECT_EQ(RepositoryAt(3).Status, KHA_STATUS_MARKED);
  EXPECT_EQ(Statuses(3), (std::vector<int32_t>{3}));
  EXPECT_EQ(RepositoryAt(4).Status, KHA_STATUS_NEW);
  EXPECT_EQ(RepositoryAt(5).Status, KHA_STATUS_ACTIVE);  // 1, marked, named
  EXPECT_EQ(Statuses(5), (std::vector<int32_t>{1, 1, 0, 0, 2, 0, 3, 3}));
  EXPECT_EQ(RepositoryAt(6).Status, KHA_STATUS_NEW);     // 0 named
  EXPECT_EQ(RepositoryAt(7).Status, KHA_STATUS_ACTIVE);  // 2 named
  EXPECT_EQ(RepositoryAt(8).Status, KHA_STATUS_NEW);     // 3 named
  EXPECT_EQ(RepositoryAt(9).Status, KHA_STATUS_NEW);     // confirmed, then named again
  EXPECT_EQ(Name(RepositoryAt(10)), "Added");
  EXPECT_EQ(RepositoryAt(10).Status, KHA_STATUS_NEW);
}

TEST_F(LoadFromConfigTest, ReadAndTuningFailuresLeaveTheRegionUnchanged) {
  LoadRunning({Repo("A", {Arc("a1")})});
  historian().files.repositories = {Repo("B", {Arc("b1")})};
  ExpectFailuresLeaveTheRegion(LoadFromConfigIntoKestiHistAdmin,
                               {{"marn_read_hist_config", KHA_CONFIG_READ_FAILED},
                                {"marn_get_tuning_data", KHA_LOAD_TUNING_FAILED},
                                {"getConfigPathAndTimestamp", KHA_CONFIG_PATH_FAILED},
                                {"getTuningPathAndTimestamp", KHA_TUNING_PATH_FAILED}});
  EXPECT_TRUE(historian().Lines("marn_get_number_repositories").empty());
}

TEST_F(LoadFromConfigTest, RepositoryCountFailureLeavesTheTuningAndTheMarking) {
  LoadRunning({Repo("A", {Arc("a1")}), Repo("Z", {Arc("z1")})});
  SetStatus(2, KHA_STATUS_NOT_SAVED);
  historian().files.tuning = SampleTuning();
  historian().FailNth("marn_get_number_repositories", 1);
  EXPECT_EQ(LoadFromConfigIntoKestiHistAdmin(), KHA_CONFIG_REPOSITORY_COUNT_FAILED);
  EXPECT_EQ(Tuning().TuningValue2, -3);
  EXPECT_EQ(RepositoryAt(1).Status, KHA_STATUS_MARKED);
  EXPECT_EQ(Statuses(1), (std::vector<int32_t>{1}));
  EXPECT_EQ(RepositoryAt(2).NumberFS, 0);
}

TEST_F(LoadFromConfigTest, FailuresInsideOneRepositoryEndOnlyThatRepository) {
  LoadRunning({Repo("NoName", {Arc("n1")}), Repo("NoHeader", {Arc("h1")}),
               Repo("BrokenArc", {Arc("b1"), Arc("b2"), Arc("b3")})});
  historian().files.repositories = {Repo("NoName", {Arc("n1")}),
                                    Repo("NoHeader", {Arc("h1")}),
                                    Repo("NewNoHeader", {Arc("x1")}),
                                    Repo("BrokenArc", {Arc("b1"), Arc("b2"), Arc("b3")}),
                                    Repo("BadName", {Arc("y1")}),
                                    Repo("Fine", {Arc("f1")}),
                                    Repo(std::string(32, 'L'), {Arc("l1")})};
  historian().FailWhen("get_repos_name", [](const std::string& a) { return a == "1 0"; });
  historian().FailWhen("marn_get_rep_data",
                       [](const std::string& a) { return a == "1 1 null" || a == "1 2 null"; });
  historian().FailWhen("marn_get_number_arcs", [](const std::string& a) { return a == "1 4"; });
  historian().FailWhen("marn_get_arc_data", [](const std::string& a) { return a == "1 3 1"; });

  ASSERT_EQ(LoadFromConfigIntoKestiHistAdmin(), KHA_OK);

  EXPECT_EQ(RepositoryAt(1).Status, KHA_STATUS_MARKED);  // -2027: skipped, keeps the mark
  EXPECT_EQ(Statuses(1), (std::vector<int32_t>{1}));
  EXPECT_EQ(RepositoryAt(2).Status, KHA_STATUS_MARKED);  // -2028 on a found one
  EXPECT_EQ(Statuses(2), (std::vector<int32_t>{1}));
  // -2029 on the second arc: the first confirmed, the rest keep their marks.
  EXPECT_EQ(RepositoryAt(3).Status, KHA_STATUS_ACTIVE);
  EXPECT_EQ(Statuses(3), (std::vector<int32_t>{1, 2, 2}));
  const RepositoryRecord added = RepositoryAt(4);  // -2028 on a new one
  EXPECT_EQ(Name(added), "NewNoHeader");
  EXPECT_EQ(added.Status, KHA_STATUS_NEW);
  EXPECT_EQ(added.NumberFS, 0);
  EXPECT_EQ(Name(RepositoryAt(5)), "Fine");  // BadName left out (no arc count)
  EXPECT_EQ(Header().NumberRepos, 5);        // the unterminated name left out
}

TEST_F(LoadFromConfigTest, EachPathIsConvertedOncePerRepositoryLoad) {
  std::vector<historian::FileSetConfig> existing;
  std::vector<historian::FileSetConfig> named;
  for (int i = 0; i < 60; ++i) existing.push_back(Arc("D:/a/" + std::to_string(i)));
  for (int i = 0; i < 60; ++i) named.push_back(Arc("d:/A/" + std::to_string(59 - i)));
  for (int i = 0; i < 40; ++i) named.push_back(Arc("D:/a/new" + std::to_string(i)));
  named.push_back(Arc("D:/a/new0"));
  LoadRunning({Repo("A", existing)});
  historian().files.repositories = {Repo("A", named)};

  ASSERT_EQ(LoadFromConfigIntoKestiHistAdmin(), KHA_OK);
  // The two repository paths and their current values, the 60 file sets
  // of the chain, and each of the 101 arcs.
  EXPECT_EQ(historian().Count("ConvertUNC2LocalPath"), 4 + 60 + 101);
  std::vector<int32_t> expected(60, 1);
  expected.insert(expected.end(), 40, 3);
  expected[60] = 0;  // new0, named twice
  EXPECT_EQ(Statuses(1), expected);
}

// A chain whose NumberFS disagrees with its links is searched as the links stand.
TEST_F(LoadFromConfigTest, AChainLongerOrShorterThanItsLinksIsSearchedAsItStands) {
  // One file set more than the links hold: every search walks the links
  // as they stand, also after file sets were appended.
  LoadRunning({Repo("A", {Arc("a1")})});
  RepositoryRecordAt(1)->NumberFS = 2;
  historian().files.repositories = {Repo("A", {Arc("n1"), Arc("N1"), Arc("a1")})};
  ASSERT_EQ(LoadFromConfigIntoKestiHistAdmin(), KHA_OK);
  EXPECT_EQ(Statuses(1), (std::vector<int32_t>{1, 0}));
  EXPECT_EQ(Header().NumberFileSets, 2);

  // One less: a2 lies beyond the walk until the append raises NumberFS,
  // and is then found before the file set appended behind it.
  LoadRunning({Repo("A", {Arc("a1"), Arc("a2")})});
  RepositoryRecordAt(1)->NumberFS = 1;
  historian().files.repositories = {Repo("A", {Arc("a2"), Arc("a2")})};
  ASSERT_EQ(LoadFromConfigIntoKestiHistAdmin(), KHA_OK);
  EXPECT_EQ((std::vector<int32_t>{FileSetAt(1).RecordStatus, FileSetAt(2).RecordStatus,
                                  FileSetAt(3).RecordStatus}),
            (std::vector<int32_t>{KHA_STATUS_MARKED, KHA_STATUS_NOT_SAVED, KHA_STATUS_NEW}));
  EXPECT_EQ(Header().NumberFileSets, 3);  // a2 matched by the second arc, added by the first
}

}  // namespace
}  // namespace kha::test
