// The save to the configuration files, against the scripted double.
#include <gtest/gtest.h>

#include <atomic>
#include <new>

#include "transfer/transfer_fixture.h"

namespace {

// The save's two arrays come from the nothrow array new; a test can make
// the nth of them fail. Otherwise it allocates as the library's own does.
std::atomic<int> nothrow_array_allocations{0};
std::atomic<int> fail_nothrow_array_allocation_at{0};

}  // namespace

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  const int nth = ++nothrow_array_allocations;
  if (fail_nothrow_array_allocation_at != 0 && nth == fail_nothrow_array_allocation_at) {
    return nullptr;
  }
  try {
    return ::operator new[](size);
  } catch (...) {
    return nullptr;
  }
}

namespace kha::test {
namespace {

class SaveToConfigTest : public TransferTest {
 protected:
  // Seven repositories; those in slots 2, 5 and 7 are to be saved, and
  // repository 2 has file sets that are not.
  void LoadSevenAndMarkSome() {
    std::vector<historian::RepositoryConfig> repositories;
    for (int i = 1; i <= 7; ++i) {
      const std::string name = "R" + std::to_string(i);
      repositories.push_back(Repo(name, {Arc("D:/" + name + "/a"), Arc("D:/" + name + "/b")}));
    }
    repositories[1].file_sets = {Arc("D:/R2/a"), Arc("D:/R2/b", -1), Arc("D:/R2/c"), Arc("D:/R2/d"),
                                 Arc("D:/R2/e", 5, 2.5f, 9)};
    historian().running.tuning = SampleTuning();
    LoadRunning(repositories);
    RepositoryRecordAt(1)->Status = KHA_STATUS_MARKED;
    RepositoryRecordAt(3)->Status = KHA_STATUS_NOT_SAVED;
    RepositoryRecordAt(4)->Status = KHA_STATUS_MARKED;
    RepositoryRecordAt(6)->Status = KHA_STATUS_NOT_SAVED;
    RepositoryRecordAt(7)->Status = KHA_STATUS_NEW;
    FileSetRecordAt(FileSetSlot(2, 1))->RecordStatus = KHA_STATUS_NOT_SAVED;
    FileSetRecordAt(FileSetSlot(2, 3))->RecordStatus = KHA_STATUS_MARKED;
    FileSetRecordAt(FileSetSlot(2, 5))->RecordStatus = KHA_STATUS_NEW;
    FileSetRecordAt(FileSetSlot(7, 1))->RecordStatus = KHA_STATUS_MARKED;
    FileSetRecordAt(FileSetSlot(7, 2))->RecordStatus = KHA_STATUS_MARKED;
    // Pending values differ from those in effect: the save writes the pending ones.
    RepositoryRecord* r2 = RepositoryRecordAt(2);
    r2->PendingNumberPoints = 101;
    r2->PendingQueueSize = 201;
    r2->PendingGlobalThreshold = 0.375f;
    r2->PendingGlobalTimeSpan = 86401;
    r2->PendingCacheSize = 131;
    r2->PendingInsertSize = 141;
    r2->PendingEmptyFilesets = 151;
    std::memcpy(r2->PendingFilePath, "D:\\pending\\R2", 14);
    FileSetRecord* e = FileSetRecordAt(FileSetSlot(2, 5));
    e->PendingSize = 6;
    std::memcpy(e->PendingFilePath, "D:\\pending\\e", 13);
  }
};

// The sequence is the same at every save, and a save changes nothing in the region.
TEST_F(SaveToConfigTest, PassesTheRepositoriesAndFileSetsToBeSavedInOneFixedSequence) {
  LoadSevenAndMarkSome();
  TuningData* tuning = HistAdminTuning();
  tuning->TuningValue1 = -2;
  tuning->TuningValue2 = 32767;
  const std::vector<std::byte> before = RegionViewBytes();

  ASSERT_EQ(SaveKestiHistAdminToConfig(), KHA_OK);

  std::string tuning_line = "marn_put_tuning_data(null null -2 32767";
  for (int i = 2; i < 40; ++i) tuning_line += " " + std::to_string(1000 + i);
  tuning_line += ")";
  EXPECT_EQ(
      historian().Lines(),
      (std::vector<std::string>{
          tuning_line,
          "marn_free_hist_config()",
          "marn_init_hist_config(3 3 2 0)",
          "marn_put_rep_data(0 R2 D:\\pending\\R2 E:\\backup\\R2 101 3 201 4096 0.375 86401 "
          "11 12 131 141 151)",
          // b: takes the repository's defaults, so saved with the markers.
          "marn_put_arc_data(0 0 7 D:\\R2\\b 1000.5 2000.6 -1 -1 -1)",
          "marn_put_arc_data(0 1 7 D:\\R2\\d 1000.5 2000.6 1000 0.5 3600)",
          "marn_put_arc_data(0 2 7 D:\\pending\\e 1000.5 2000.6 6 2.5 9)",
          "marn_put_rep_data(1 R5 D:\\hist\\R5 E:\\backup\\R5 100 2 200 4096 0.25 86400 11 12 13 "
          "14 15)",
          "marn_put_arc_data(1 0 7 D:\\R5\\a 1000.5 2000.6 1000 0.5 3600)",
          "marn_put_arc_data(1 1 7 D:\\R5\\b 1000.5 2000.6 1000 0.5 3600)",
          "marn_put_rep_data(2 R7 D:\\hist\\R7 E:\\backup\\R7 100 0 200 4096 0.25 86400 11 12 13 "
          "14 15)",
          "marn_write_hist_config()",
      }));
  // The defaults-taking file set keeps its values in the region.
  EXPECT_EQ(FileSetRecordAt(FileSetSlot(2, 2))->PendingSize, 4096);
  const std::vector<std::string> first = historian().Lines();
  historian().calls.clear();
  ASSERT_EQ(SaveKestiHistAdminToConfig(), KHA_OK);
  EXPECT_EQ(historian().Lines(), first);
  EXPECT_TRUE(before == RegionViewBytes());
}

TEST_F(SaveToConfigTest, NothingToSaveFreesTheConfigurationAndStillWritesIt) {
  LoadRunning({Repo("A", {Arc("a")})});
  historian().files.repositories = {Repo("OnDisk")};
  RepositoryRecordAt(1)->Status = KHA_STATUS_MARKED;
  ASSERT_EQ(SaveKestiHistAdminToConfig(), KHA_OK);
  EXPECT_EQ(historian().Count("marn_init_hist_config"), 0);
  EXPECT_EQ(historian().Count("marn_put_rep_data"), 0);
  EXPECT_EQ(historian().Lines().back(), "marn_write_hist_config()");
  EXPECT_TRUE(historian().files.repositories.empty());
}

TEST_F(SaveToConfigTest, EachFailureEndsTheSaveAtOnceWithItsCode) {
  const struct {
    const char* function;
    int nth;
    int32_t code;
  } cases[] = {{"marn_put_tuning_data", 1, KHA_SAVE_TUNING_FAILED},
               {"marn_free_hist_config", 1, KHA_FREE_CONFIG_FAILED},
               {"marn_init_hist_config", 1, KHA_INIT_CONFIG_FAILED},
               {"marn_put_rep_data", 2, KHA_SAVE_REPOSITORY_FAILED},
               {"marn_put_arc_data", 2, KHA_SAVE_FILESET_FAILED},
               {"marn_write_hist_config", 1, KHA_WRITE_CONFIG_FAILED}};
  LoadSevenAndMarkSome();
  historian().files.repositories = {Repo("OnDisk")};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.function);
    historian().calls.clear();
    historian().FailNth(c.function, c.nth);
    EXPECT_EQ(SaveKestiHistAdminToConfig(), c.code);
    const std::vector<std::string> lines = historian().Lines();
    ASSERT_FALSE(lines.empty());
    // The failing call is the last one made: nothing after it, no write.
    EXPECT_EQ(lines.back().substr(0, lines.back().find('(')), c.function);
    EXPECT_EQ(historian().files.repositories.size(), 1u);  // the files keep their contents
  }
  // A failing repository header stops the repositories after it.
  historian().calls.clear();
  historian().FailNth("marn_put_rep_data", 1);
  EXPECT_EQ(SaveKestiHistAdminToConfig(), KHA_SAVE_REPOSITORY_FAILED);
  EXPECT_EQ(historian().Count("marn_put_arc_data"), 2 * 3 + 2 * 2);  // none from this save
}

TEST_F(SaveToConfigTest, AllocationFailuresGiveNoMemoryBeforeTheConfigurationIsSetUp) {
  LoadSevenAndMarkSome();
  for (int nth : {1, 2}) {
    SCOPED_TRACE(nth);
    historian().calls.clear();
    fail_nothrow_array_allocation_at = nothrow_array_allocations + nth;
    EXPECT_EQ(SaveKestiHistAdminToConfig(), KHA_NO_MEMORY);
    fail_nothrow_array_allocation_at = 0;
    EXPECT_EQ(historian().Lines().back(), "marn_free_hist_config()");
  }
  // Under the address sanitizer, a leaked first array would be reported.
  ASSERT_EQ(SaveKestiHistAdminToConfig(), KHA_OK);
}

TEST_F(SaveToConfigTest, NamesAndPathsWithoutTerminatorAreHandedOnCut) {
  LoadRunning({Repo("A", {Arc("a")})});
  RepositoryRecord* r = RepositoryRecordAt(1);
  std::memset(r->RepositoryName, 'N', 32);
  std::memset(r->PendingFilePath, 'P', 256);
  std::memset(FileSetRecordAt(1)->PendingFilePath, 'F', 256);
  ASSERT_EQ(SaveKestiHistAdminToConfig(), KHA_OK);
  const std::string rep = historian().Lines("marn_put_rep_data").at(0);
  const std::string expected =
      "marn_put_rep_data(0 " + std::string(31, 'N') + " " + std::string(255, 'P') + " ";
  EXPECT_EQ(rep.substr(0, expected.size()), expected);
  const std::string arc = historian().Lines("marn_put_arc_data").at(0);
  EXPECT_NE(arc.find(" " + std::string(255, 'F') + " "), std::string::npos);
}

TEST_F(SaveToConfigTest, WhatTheSaveWritesLoadsBackAsConfirmed) {
  LoadSevenAndMarkSome();
  ASSERT_EQ(SaveKestiHistAdminToConfig(), KHA_OK);
  ASSERT_EQ(historian().files.repositories.size(), 3u);
  ASSERT_EQ(LoadFromConfigIntoKestiHistAdmin(), KHA_OK);
  EXPECT_EQ(RepositoryAt(2).Status, KHA_STATUS_ACTIVE);
  EXPECT_EQ(RepositoryAt(5).Status, KHA_STATUS_ACTIVE);
  EXPECT_EQ(RepositoryAt(7).Status, KHA_STATUS_NEW);  // was 3: stays to be saved
  EXPECT_EQ(RepositoryAt(1).Status, KHA_STATUS_MARKED);
  EXPECT_EQ(RepositoryAt(3).Status, KHA_STATUS_NOT_SAVED);
  // R2's chain: a (0) and c (2) are not in the files; b, d and e come back.
  EXPECT_EQ(Statuses(2), (std::vector<int32_t>{0, 1, 2, 1, 0}));
  EXPECT_EQ(Chain(2)[1].ParamSource, 0);  // the markers load back as "take the defaults"
  // A second save still writes the three repositories.
  const auto files = historian().files.repositories;
  historian().calls.clear();
  ASSERT_EQ(SaveKestiHistAdminToConfig(), KHA_OK);
  ASSERT_EQ(historian().files.repositories.size(), files.size());
}

}  // namespace
}  // namespace kha::test
