// The load from the running historian, against the scripted double.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "support/fault_platform.h"
#include "transfer/transfer_fixture.h"
#ifndef _WIN32
#include "support/forked_probe.h"
#endif

namespace kha::test {
namespace {

using LoadFromMarnTest = TransferTest;

TEST_F(LoadFromMarnTest, FillsTablesTuningAndPathsInTheHistoriansOrder) {
  historian().running.tuning = SampleTuning();
  historian().running.repositories = {
      Repo("Alpha", {Arc("D:/hist/alpha/fs1"), Arc("D:/hist/alpha/fs2", 2000, 0.75f, 60)}),
      Repo("beta", {Arc("D:/hist/beta/fs1")})};

  ASSERT_EQ(LoadFromMarnIntoKestiHistAdmin(), KHA_OK);

  const RegionHeader header = Header();
  EXPECT_EQ((std::vector<int>{header.ReposHighWater, header.NumberRepos, header.FSHighWater,
                              header.NumberFileSets}),
            (std::vector<int>{2, 2, 3, 3}));

  const TuningData t = Tuning();
  EXPECT_EQ((std::vector<int32_t>{t.TuningValue1, t.TuningValue2, t.TuningValues3To11[0],
                                  t.TuningValues3To11[8], t.TuningValue12, t.TuningValue13,
                                  t.TuningValues14To40[0], t.TuningValues14To40[26]}),
            (std::vector<int32_t>{0x2345, -3, 1002, 1010, 1011, 1012, 1013, 1039}));
  EXPECT_EQ(Path(t.ConfigFilePath), historian().config_path);
  EXPECT_EQ(Path(t.TuneFilePath), historian().tune_path);
  EXPECT_EQ(std::memcmp(t.ConfigFileTimestamp, historian().config_timestamp.data(), 8), 0);
  EXPECT_EQ(std::memcmp(t.TuneFileTimestamp, historian().tune_timestamp.data(), 8), 0);

  // Every value in effect and its pending twin (paths normalised by the path library).
  const RepositoryRecord a = RepositoryAt(1);
  EXPECT_EQ(Name(a), "Alpha");
  EXPECT_EQ((std::vector<std::string>{Path(a.FilePath), Path(a.PendingFilePath),
                                      Path(a.BackupFilePath), Path(a.PendingBackupFilePath)}),
            (std::vector<std::string>{"D:\\hist\\Alpha", "D:\\hist\\Alpha", "E:\\backup\\Alpha",
                                      "E:\\backup\\Alpha"}));
  EXPECT_EQ((std::vector<int64_t>{
                a.ReposNumber, a.Status, a.NumberPoints, a.PendingNumberPoints, a.QueueSize,
                a.PendingQueueSize, a.GlobalFileSetSize, a.GlobalTimeSpan, a.PendingGlobalTimeSpan,
                a.PastTime, a.FutureTime, a.CacheSize, a.PendingCacheSize, a.InsertSize,
                a.PendingInsertSize, a.EmptyFilesets, a.PendingEmptyFilesets, a.NumberFS}),
            (std::vector<int64_t>{1, KHA_STATUS_ACTIVE, 100, 100, 200, 200, 4096, 86400, 86400, 11,
                                  12, 13, 13, 14, 14, 15, 15, 2}));
  EXPECT_EQ((std::vector<float>{a.GlobalThreshold, a.PendingGlobalThreshold}),
            (std::vector<float>{0.25f, 0.25f}));
  EXPECT_EQ(Name(RepositoryAt(2)), "beta");
  EXPECT_EQ(RepositoryAt(2).ReposNumber, 2);

  const std::vector<FileSetRecord> chain = Chain(1);
  ASSERT_EQ(chain.size(), 2u);
  EXPECT_EQ((std::vector<std::string>{Path(chain[0].FilePath), Path(chain[0].PendingFilePath),
                                      Path(chain[1].FilePath)}),
            (std::vector<std::string>{"D:\\hist\\alpha\\fs1", "D:\\hist\\alpha\\fs1",
                                      "D:\\hist\\alpha\\fs2"}));
  const FileSetRecord& f = chain[1];
  EXPECT_EQ(
      (std::vector<int64_t>{f.RecordStatus, f.HistoryStatus, f.StartTime.Seconds,
                            f.StartTime.Microseconds, f.EndTime.Seconds, f.EndTime.Microseconds,
                            f.ParamSource, f.Size, f.PendingSize, f.Timespan, f.PendingTimespan,
                            f.ReposIndex}),
      (std::vector<int64_t>{KHA_STATUS_ACTIVE, 7, 1000, 5, 2000, 6, 1, 2000, 2000, 60, 60, 1}));
  EXPECT_EQ((std::vector<float>{f.Threshold, f.PendingThreshold, f.Percentage}),
            (std::vector<float>{0.75f, 0.75f, 0.0f}));
  const unsigned char zero[24] = {};
  EXPECT_EQ(std::memcmp(f.Spare1, zero, 24), 0);
  EXPECT_EQ(Chain(2).size(), 1u);
}

TEST_F(LoadFromMarnTest, CallsTheLibrariesInOrderWithSourceZero) {
  historian().running.repositories = {Repo("Alpha", {Arc("D:/a/1")})};
  ASSERT_EQ(LoadFromMarnIntoKestiHistAdmin(), KHA_OK);
  EXPECT_EQ(historian().Lines(), (std::vector<std::string>{
                                     "marn_get_tuning_data(null null)",
                                     "getConfigPathAndTimestamp()",
                                     "getTuningPathAndTimestamp()",
                                     "marn_get_number_repositories(0)",
                                     "marn_get_number_arcs(0 0)",
                                     "get_repos_name(0 0)",
                                     "marn_get_rep_data(0 0 null)",
                                     "fixHistoryFilePath(D:/hist/Alpha 13 1)",
                                     "fixHistoryFilePath(E:/backup/Alpha 15 1)",
                                     "marn_get_arc_data(0 0 0)",
                                     "fixHistoryFilePath(D:/a/1 6 1)",
                                 }));
}

TEST_F(LoadFromMarnTest, ArcsWithoutValidValuesOfTheirOwnTakeTheRepositoryDefaults) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  historian().running.repositories = {
      Repo("R", {Arc("p/size", -1), Arc("p/threshold", 10, 0.0f), Arc("p/negative", 10, -2.0f),
                 Arc("p/timespan", 10, 1.0f, 0), Arc("p/negspan", 10, 1.0f, -5),
                 Arc("p/nan", 10, nan, 5), Arc("p/own", -2, 1.0f, 1)})};
  ASSERT_EQ(LoadFromMarnIntoKestiHistAdmin(), KHA_OK);

  const std::vector<FileSetRecord> chain = Chain(1);
  ASSERT_EQ(chain.size(), 7u);
  for (std::size_t i = 0; i < 5; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(chain[i].ParamSource, 0);
    EXPECT_EQ(chain[i].Size, 4096);
    EXPECT_EQ(chain[i].PendingSize, 4096);
    EXPECT_EQ(chain[i].Threshold, 0.25f);
    EXPECT_EQ(chain[i].PendingThreshold, 0.25f);
    EXPECT_EQ(chain[i].Timespan, 86400);
    EXPECT_EQ(chain[i].PendingTimespan, 86400);
  }
  EXPECT_EQ(chain[5].ParamSource, 1);  // a NaN threshold is the arc's own
  EXPECT_TRUE(std::isnan(chain[5].PendingThreshold));
  EXPECT_EQ(chain[6].ParamSource, 1);  // only -1 means "no size of its own"
  EXPECT_EQ(chain[6].PendingSize, -2);
}

TEST_F(LoadFromMarnTest, NoRepositoriesLeavesEmptyTablesAndStoresTheTuning) {
  historian().running.tuning = SampleTuning();
  historian().running.repositories = {Repo("Old", {Arc("x")})};
  ASSERT_EQ(LoadFromMarnIntoKestiHistAdmin(), KHA_OK);
  historian().running.repositories.clear();
  historian().running.tuning.values[5] = 77;

  ASSERT_EQ(LoadFromMarnIntoKestiHistAdmin(), KHA_OK);
  EXPECT_EQ(Header().ReposHighWater, 0);
  EXPECT_EQ(Header().NumberRepos, 0);
  EXPECT_EQ(Header().FSHighWater, 0);
  EXPECT_EQ(Header().NumberFileSets, 0);
  EXPECT_EQ(Tuning().TuningValues3To11[3], 77);
}

TEST_F(LoadFromMarnTest, NegativeCountsLoadNothing) {
  historian().running.repositories = {Repo("A", {Arc("x")}), Repo("B", {Arc("y")})};
  historian().running.reported_arc_counts[1] = -3;
  ASSERT_EQ(LoadFromMarnIntoKestiHistAdmin(), KHA_OK);
  EXPECT_EQ(Header().NumberRepos, 2);
  EXPECT_EQ(RepositoryAt(2).NumberFS, 0);
  EXPECT_EQ(historian().Count("marn_get_arc_data"), 1);

  historian().running.reported_repository_count = -1;
  ASSERT_EQ(LoadFromMarnIntoKestiHistAdmin(), KHA_OK);
  EXPECT_EQ(Header().NumberRepos, 0);
}

TEST_F(LoadFromMarnTest, NamesThatCannotBeRepositoryNamesAreLeftOut) {
  historian().running.repositories = {
      Repo("A", {Arc("a")}), Repo(std::string(31, 'x'), {Arc("b")}), Repo("", {Arc("c")}),
      // 32 bytes without a terminator: measured within the buffer, never beyond it.
      Repo(std::string(40, 'y'), {Arc("d")}), Repo(std::string(30, 'z'), {Arc("e")})};
  ASSERT_EQ(LoadFromMarnIntoKestiHistAdmin(), KHA_OK);
  EXPECT_EQ(Header().NumberRepos, 2);
  EXPECT_EQ(Name(RepositoryAt(1)), "A");
  EXPECT_EQ(Name(RepositoryAt(2)), std::string(30, 'z'));
  EXPECT_EQ(Header().NumberFileSets, 2);
}

TEST_F(LoadFromMarnTest, ANameListedTwiceGivesOneRepositoryWithAllItsArcs) {
  historian().running.repositories = {Repo("Twin", {Arc("one")}), Repo("Other", {Arc("x")}),
                                      Repo("TWIN", {Arc("two"), Arc("three")}, "D:/second")};
  ASSERT_EQ(LoadFromMarnIntoKestiHistAdmin(), KHA_OK);
  EXPECT_EQ(Header().NumberRepos, 2);
  const RepositoryRecord twin = RepositoryAt(1);
  EXPECT_EQ(Name(twin), "Twin");
  EXPECT_EQ(Path(twin.FilePath), "D:\\second");  // the second listing updated the header again
  const std::vector<FileSetRecord> chain = Chain(1);
  ASSERT_EQ(chain.size(), 3u);
  EXPECT_EQ(Path(chain[0].FilePath), "one");
  EXPECT_EQ(Path(chain[2].FilePath), "three");
}

TEST_F(LoadFromMarnTest, PathsThatFillTheirWholeBufferAreCutAt255) {
  historian().running.repositories = {
      Repo("Long", {Arc(std::string(300, 'f'))}, std::string(300, 'r'))};
  historian().config_path = std::string(400, 'c');
  ASSERT_EQ(LoadFromMarnIntoKestiHistAdmin(), KHA_OK);
  EXPECT_EQ(Path(RepositoryAt(1).FilePath), std::string(255, 'r'));
  EXPECT_EQ(Path(Chain(1)[0].FilePath), std::string(255, 'f'));
  EXPECT_EQ(Path(Tuning().ConfigFilePath), std::string(255, 'c'));
}

TEST_F(LoadFromMarnTest, LoadingTwiceGivesTheSameRegionByteForByte) {
  historian().running.tuning = SampleTuning();
  historian().running.repositories = {Repo("A", {Arc("a1"), Arc("a2", -1)}), Repo("B", {}),
                                      Repo("C", {Arc("c1")}), Repo("a", {Arc("a3")})};
  ASSERT_EQ(LoadFromMarnIntoKestiHistAdmin(), KHA_OK);
  const std::vector<std::byte> first = RegionViewBytes();
  ASSERT_EQ(LoadFromMarnIntoKestiHistAdmin(), KHA_OK);
  EXPECT_TRUE(first == RegionViewBytes());
}

TEST_F(LoadFromMarnTest, TuningFailuresLeaveTheRegionUnchanged) {
  historian().running.repositories = {Repo("A", {Arc("a1")})};
  ASSERT_EQ(LoadFromMarnIntoKestiHistAdmin(), KHA_OK);
  historian().running.tuning = SampleTuning();
  historian().running.repositories = {Repo("New")};
  ExpectFailuresLeaveTheRegion(LoadFromMarnIntoKestiHistAdmin,
                               {{"marn_get_tuning_data", KHA_LOAD_TUNING_FAILED},
                                {"getConfigPathAndTimestamp", KHA_CONFIG_PATH_FAILED},
                                {"getTuningPathAndTimestamp", KHA_TUNING_PATH_FAILED}});
  EXPECT_EQ(historian().Count("marn_get_number_repositories"), 1);
}

TEST_F(LoadFromMarnTest, RepositoryCountFailureStoresTheTuningAndEmptiesTheTables) {
  historian().running.repositories = {Repo("A", {Arc("a1")})};
  ASSERT_EQ(LoadFromMarnIntoKestiHistAdmin(), KHA_OK);
  historian().running.tuning = SampleTuning();
  historian().FailNth("marn_get_number_repositories", 1);
  EXPECT_EQ(LoadFromMarnIntoKestiHistAdmin(), KHA_MARN_REPOSITORY_COUNT_FAILED);
  EXPECT_EQ(Tuning().TuningValue2, -3);
  EXPECT_EQ(Header().NumberRepos, 0);
  EXPECT_EQ(Header().ReposHighWater, 0);
  EXPECT_EQ(Header().NumberFileSets, 0);
}

TEST_F(LoadFromMarnTest, FailuresInsideOneRepositoryEndOnlyThatRepository) {
  // Fill slot 1 with a first load, so that what a failed load leaves in it shows.
  historian().running.repositories = {Repo("First", {Arc("old1"), Arc("old2")}, "D:/old")};
  ASSERT_EQ(LoadFromMarnIntoKestiHistAdmin(), KHA_OK);

  historian().running.repositories = {Repo("NoHeader", {Arc("n1")}, "D:/new"),
                                      Repo("NoArcCount", {Arc("x")}), Repo("NoName", {Arc("y")}),
                                      Repo("BrokenArc", {Arc("b1"), Arc("b2"), Arc("b3")}),
                                      Repo("Fine", {Arc("f1")})};
  historian().calls.clear();
  historian().FailWhen("marn_get_rep_data", [](const std::string& a) { return a == "0 0 null"; });
  historian().FailWhen("marn_get_number_arcs", [](const std::string& a) { return a == "0 1"; });
  historian().FailWhen("get_repos_name", [](const std::string& a) { return a == "0 2"; });
  historian().FailWhen("marn_get_arc_data", [](const std::string& a) { return a == "0 3 1"; });

  ASSERT_EQ(LoadFromMarnIntoKestiHistAdmin(), KHA_OK);
  EXPECT_EQ(Header().NumberRepos, 3);

  // -2023: added with its name and Status 1, empty chain, the rest as the slot held it.
  const RepositoryRecord no_header = RepositoryAt(1);
  EXPECT_EQ(Name(no_header), "NoHeader");
  EXPECT_EQ(no_header.Status, KHA_STATUS_ACTIVE);
  EXPECT_EQ(no_header.NumberFS, 0);
  EXPECT_EQ(Path(no_header.FilePath), "D:\\old");

  // A failing arc count leaves the repository out entirely; so does a failing name.
  EXPECT_TRUE(historian().Lines("get_repos_name") ==
              (std::vector<std::string>{"get_repos_name(0 0)", "get_repos_name(0 2)",
                                        "get_repos_name(0 3)", "get_repos_name(0 4)"}));

  // -2024 on the second arc: the first stays, the second stays as added
  // (RecordStatus 1, the rest what its reused slot held), the third is not read.
  const RepositoryRecord broken = RepositoryAt(2);
  EXPECT_EQ(Name(broken), "BrokenArc");
  const std::vector<FileSetRecord> chain = Chain(2);
  ASSERT_EQ(chain.size(), 2u);
  EXPECT_EQ(Path(chain[0].FilePath), "b1");
  EXPECT_EQ(chain[1].RecordStatus, KHA_STATUS_ACTIVE);
  EXPECT_EQ(Path(chain[1].FilePath), "old2");
  EXPECT_EQ(historian().Lines("marn_get_arc_data").back(), "marn_get_arc_data(0 4 0)");

  EXPECT_EQ(Name(RepositoryAt(3)), "Fine");
  EXPECT_EQ(Chain(3).size(), 1u);
}

TEST_F(LoadFromMarnTest, AFullRegionEndsEachRepositoryThatHitsItAndStillSucceeds) {
  // Room for the header, the tuning block, two repositories and three file sets.
  ASSERT_EQ(DetachFromKestiHistAdminSharedMemory(), KHA_OK);
  ASSERT_EQ(SetupAndAttachToKestiHistAdminSharedMemory(692 + 2 * 1144 + 3 * 600), KHA_OK);
  historian().running.repositories = {Repo("A", {Arc("a1"), Arc("a2")}),
                                      Repo("B", {Arc("b1"), Arc("b2")}), Repo("C", {Arc("c1")})};
  ASSERT_EQ(LoadFromMarnIntoKestiHistAdmin(), KHA_OK);
  EXPECT_EQ(Header().NumberRepos, 2);
  EXPECT_EQ(Chain(1).size(), 2u);
  EXPECT_EQ(Chain(2).size(), 1u);  // B stays as far as it got
  EXPECT_EQ(Header().NumberFileSets, 3);
  EXPECT_EQ(historian().Count("get_repos_name"), 3);  // C was tried and could not be added
}

// Without a region the load still calls the tuning functions; the save calls none.
TEST_F(LoadFromMarnTest, AnUnmappedRegionGivesNotMapped) {
  DetachCompletely();
  historian().running.repositories = {Repo("A")};
  EXPECT_EQ(LoadFromMarnIntoKestiHistAdmin(), KHA_NOT_MAPPED);
  EXPECT_EQ(historian().Count("marn_get_tuning_data"), 1);
  EXPECT_EQ(historian().Count("getTuningPathAndTimestamp"), 1);
  EXPECT_EQ(historian().Count("marn_get_number_repositories"), 0);
  historian().calls.clear();
  EXPECT_EQ(SaveKestiHistAdminToConfig(), KHA_NOT_MAPPED);
  EXPECT_TRUE(historian().Lines().empty());
}

// Each transfer calls the historian's libraries only while it holds the
// HistAdmin mutex (taken through the platform and not yet given back), and
// gives it back at its end. Counted, not timed: the library takes no other mutex.
TEST_F(LoadFromMarnTest, EachTransferHoldsTheMutexWhileTheLibraryIsCalled) {
  historian().running.repositories = {Repo("A", {Arc("a1")})};
  historian().files.repositories = {Repo("A", {Arc("a1"), Arc("a2")})};
  for (const auto operation : {LoadFromMarnIntoKestiHistAdmin, LoadFromConfigIntoKestiHistAdmin,
                               SaveKestiHistAdminToConfig}) {
    ScopedFaultPlatform counted;
    const auto held = [&] {
      return counted->Calls(platform::Call::kLockMutex) -
             counted->Calls(platform::Call::kUnlockMutex);
    };
    std::vector<std::string> unheld;
    historian().calls.clear();
    historian().on_call = [&](const std::string& function) {
      if (held() < 1) unheld.push_back(function);
    };
    EXPECT_EQ(operation(), KHA_OK);
    historian().on_call = nullptr;
    EXPECT_FALSE(historian().calls.empty());
    EXPECT_TRUE(unheld.empty()) << unheld.front();
    EXPECT_GE(counted->Calls(platform::Call::kLockMutex), 1);
    EXPECT_EQ(held(), 0);
  }
}

#ifndef _WIN32
// fork() in the middle of the load: the child's thread is a copy of the
// loading one, and yet it waits for the parent's load to end.
TEST_F(LoadFromMarnTest, AChildForkedInsideTheLoadWaitsForItsEnd) {
  historian().running.repositories = {Repo("A", {Arc("a1")})};
  std::unique_ptr<ForkedProbe> child;
  bool waited = false;
  historian().on_call = [&](const std::string&) {
    if (child) return;
    child = std::make_unique<ForkedProbe>();
    waited = child->Started() && child->StillWaitingAfter(300);
  };
  ASSERT_EQ(LoadFromMarnIntoKestiHistAdmin(), KHA_OK);
  historian().on_call = nullptr;
  EXPECT_TRUE(waited);
  ASSERT_TRUE(child);
  EXPECT_TRUE(child->Returns(10000));
}
#endif

}  // namespace
}  // namespace kha::test
