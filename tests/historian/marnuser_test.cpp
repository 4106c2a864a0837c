// marnuser through its C interface: a save followed by a read gives back
// every value; the save sequence is enforced; a bad read leaves the last
// good one in place; source 0 comes from running.dat or, without it, from
// config.dat and tune.dat.
#include "marnuser.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>

#include "config/config_text.h"
#include "config/float_text.h"
#include "config_dir_fixture.h"
#include "drell.h"
#include "marn_api_calls.h"
#include "sample_config.h"

namespace kha::test {
namespace {

using historian::ConfigFileKind;
using historian::FormatConfigText;
using historian::HistoryConfig;

class MarnuserTest : public ConfigDirTest {
 protected:
  // Writes `config` as config.dat and tune.dat without going through marnuser.
  void WriteStored(const HistoryConfig& config) {
    Write("config.dat", FormatConfigText(config, ConfigFileKind::kConfig));
    Write("tune.dat", FormatConfigText(config, ConfigFileKind::kTuning));
  }

  static HistoryConfig SmallConfig(int flavour) {
    HistoryConfig config;
    config.tuning = historian::TuningConfig{};
    config.tuning->values[0] = flavour;
    historian::RepositoryConfig repository;
    repository.name = "REPO" + std::to_string(flavour);
    repository.file_path = "/hist/" + std::to_string(flavour);
    repository.global_threshold = 0.5f * static_cast<float>(flavour);
    for (int k = 0; k < flavour; ++k) repository.file_sets.push_back(SampleFileSet(k));
    config.repositories = {repository};
    return config;
  }
};

// A save followed by a read gives back every value, and saving the same
// again writes the same bytes.
TEST_F(MarnuserTest, SaveThenReadGivesBackEveryValueAndTheSameBytes) {
  const HistoryConfig config = SampleConfig();
  ASSERT_EQ(SaveThroughApi(config), 0);
  const std::string first_config = Read("config.dat");
  const std::string first_tune = Read("tune.dat");
  ASSERT_EQ(SaveThroughApi(config), 0);
  EXPECT_EQ(Read("config.dat"), first_config);
  EXPECT_EQ(Read("tune.dat"), first_tune);
  ASSERT_EQ(marn_read_hist_config(), 0);

  ExpectShows(MARN_SOURCE_CONFIG, config);
  historian::TuningConfig tuning;
  ASSERT_EQ(GetTuningThroughApi(tuning), 0);
  EXPECT_EQ(tuning.values, config.tuning->values);
  for (std::size_t i = 0; i < config.repositories.size(); ++i) {
    char name[DRELL_NAME_SIZE] = {};
    ASSERT_EQ(get_repos_name(MARN_SOURCE_CONFIG, static_cast<int>(i), name), 0);
    EXPECT_EQ(std::string(name), config.repositories[i].name);
  }
}

// A save without repositories (put tuning, free, write: no init) and one
// whose half-put configuration was freed both write an empty configuration.
TEST_F(MarnuserTest, ASaveWithoutRepositoriesOrAfterAFreeWritesAnEmptyConfiguration) {
  const HistoryConfig small = SmallConfig(1);
  const std::array<int16_t, 1> counts = {1};
  for (const bool half_put : {false, true}) {
    SCOPED_TRACE(half_put);
    WriteStored(SmallConfig(2));
    HistoryConfig empty;
    empty.tuning = historian::TuningConfig{};
    empty.tuning->values[5] = 77;
    if (half_put) {
      ASSERT_EQ(PutTuningThroughApi(*empty.tuning), 0);
      ASSERT_EQ(marn_free_hist_config(), 0);
      ASSERT_EQ(marn_init_hist_config(1, counts.data()), 0);
      ASSERT_EQ(PutRepositoryThroughApi(0, small.repositories[0], 1), 0);
      ASSERT_EQ(marn_free_hist_config(), 0);
      ASSERT_EQ(marn_write_hist_config(), 0);
    } else {
      ASSERT_EQ(SaveThroughApi(empty), 0);
    }
    ASSERT_EQ(marn_read_hist_config(), 0);
    int16_t count = -1;
    ASSERT_EQ(marn_get_number_repositories(MARN_SOURCE_CONFIG, &count), 0);
    EXPECT_EQ(count, 0);
    historian::TuningConfig tuning;
    ASSERT_EQ(GetTuningThroughApi(tuning), 0);
    EXPECT_EQ(tuning.values[5], 77);
  }
}

TEST_F(MarnuserTest, CallsOutOfSequenceAreRefusedAndChangeNothing) {
  const HistoryConfig old_config = SmallConfig(1);
  WriteStored(old_config);
  const std::string old_bytes = Read("config.dat");
  const HistoryConfig config = SmallConfig(2);
  const auto& repository = config.repositories[0];
  const std::array<int16_t, 2> counts = {2, 1};

  EXPECT_NE(marn_write_hist_config(), 0) << "nothing set up to write";
  EXPECT_NE(marn_init_hist_config(2, counts.data()), 0) << "init before free";
  EXPECT_NE(PutRepositoryThroughApi(0, repository, 2), 0) << "put before init";
  EXPECT_NE(PutFileSetThroughApi(0, 0, repository.file_sets[0]), 0) << "arc before init";

  ASSERT_EQ(marn_free_hist_config(), 0);
  EXPECT_NE(marn_write_hist_config(), 0) << "no tuning block put or read";
  ASSERT_EQ(PutTuningThroughApi(*config.tuning), 0);
  EXPECT_NE(marn_init_hist_config(-1, counts.data()), 0);
  EXPECT_NE(marn_init_hist_config(2, nullptr), 0);
  const std::array<int16_t, 2> negative = {2, -1};
  EXPECT_NE(marn_init_hist_config(2, negative.data()), 0);
  ASSERT_EQ(marn_init_hist_config(2, counts.data()), 0);
  EXPECT_NE(marn_init_hist_config(2, counts.data()), 0) << "init twice";

  EXPECT_NE(PutFileSetThroughApi(0, 0, repository.file_sets[0]), 0) << "arc before its repository";
  EXPECT_NE(PutRepositoryThroughApi(1, repository, 1), 0) << "repository 1 before 0";
  EXPECT_NE(PutRepositoryThroughApi(2, repository, 1), 0) << "index beyond the init";
  EXPECT_NE(PutRepositoryThroughApi(-1, repository, 2), 0) << "negative index";
  EXPECT_NE(PutRepositoryThroughApi(0, repository, 3), 0) << "count unlike the init's";
  ASSERT_EQ(PutRepositoryThroughApi(0, repository, 2), 0);
  EXPECT_NE(PutFileSetThroughApi(0, 1, repository.file_sets[1]), 0) << "arc 1 before arc 0";
  EXPECT_NE(PutFileSetThroughApi(0, 2, repository.file_sets[0]), 0) << "arc beyond the count";
  EXPECT_NE(PutFileSetThroughApi(1, 0, repository.file_sets[0]), 0) << "arc of a later repository";
  ASSERT_EQ(PutFileSetThroughApi(0, 0, repository.file_sets[0]), 0);
  EXPECT_NE(PutRepositoryThroughApi(1, repository, 1), 0) << "repository 0 not complete";
  EXPECT_NE(marn_write_hist_config(), 0) << "configuration not complete";
  EXPECT_EQ(Read("config.dat"), old_bytes);
  ASSERT_EQ(PutFileSetThroughApi(0, 1, repository.file_sets[1]), 0);
  EXPECT_NE(PutFileSetThroughApi(0, 2, repository.file_sets[1]), 0) << "one arc too many";
  EXPECT_NE(marn_write_hist_config(), 0) << "repository 1 missing";
  ASSERT_EQ(PutRepositoryThroughApi(1, repository, 1), 0);
  ASSERT_EQ(PutFileSetThroughApi(1, 0, repository.file_sets[0]), 0);
  ASSERT_EQ(marn_write_hist_config(), 0);
  EXPECT_NE(marn_write_hist_config(), 0) << "a second write needs a new sequence";

  // The refused calls left no trace in what was written.
  HistoryConfig expected = config;
  expected.repositories.push_back(repository);
  expected.repositories[1].file_sets = {repository.file_sets[0]};
  ASSERT_EQ(marn_read_hist_config(), 0);
  ExpectShows(MARN_SOURCE_CONFIG, expected);
}

TEST_F(MarnuserTest, NullPointersAreRefused) {
  WriteStored(SmallConfig(1));
  ASSERT_EQ(marn_read_hist_config(), 0);
  EXPECT_NE(marn_get_number_repositories(MARN_SOURCE_CONFIG, nullptr), 0);
  EXPECT_NE(marn_get_number_arcs(MARN_SOURCE_CONFIG, 0, nullptr), 0);

  // Each pointer of list R, list A and the tuning values left out in turn.
  historian::RepositoryConfig got;
  historian::FileSetConfig got_arc;
  int16_t count = 0;
  for (int missing = 0; missing < 13; ++missing) {
    EXPECT_NE(GetRepositoryThroughApi(MARN_SOURCE_CONFIG, 0, got, count, missing), 0) << missing;
  }
  for (int missing = 0; missing < 7; ++missing) {
    EXPECT_NE(GetFileSetThroughApi(MARN_SOURCE_CONFIG, 0, 0, got_arc, missing), 0) << missing;
  }

  const HistoryConfig small = SmallConfig(1);
  const auto& r = small.repositories[0];
  const std::array<int16_t, 1> counts = {1};
  ASSERT_EQ(marn_free_hist_config(), 0);
  ASSERT_EQ(marn_init_hist_config(1, counts.data()), 0);
  for (int missing = 0; missing < 14; ++missing) {
    EXPECT_NE(PutRepositoryThroughApi(0, r, 1, missing), 0) << missing;
  }
  ASSERT_EQ(PutRepositoryThroughApi(0, r, 1), 0) << "the refused puts left the sequence intact";
  for (int missing = 0; missing < 7; ++missing) {
    EXPECT_NE(PutFileSetThroughApi(0, 0, r.file_sets[0], missing), 0) << missing;
  }
  ASSERT_EQ(PutFileSetThroughApi(0, 0, r.file_sets[0]), 0);

  historian::TuningConfig tuning;
  for (int missing = 0; missing < 40; ++missing) {
    EXPECT_NE(GetTuningThroughApi(tuning, missing), 0) << missing;
    EXPECT_NE(PutTuningThroughApi(tuning, missing), 0) << missing;
  }
}

TEST_F(MarnuserTest, StringsMustEndInsideTheirBuffers) {
  ASSERT_EQ(PutTuningThroughApi(historian::TuningConfig{}), 0);
  ASSERT_EQ(marn_free_hist_config(), 0);
  const std::array<int16_t, 1> counts = {1};
  ASSERT_EQ(marn_init_hist_config(1, counts.data()), 0);
  historian::RepositoryConfig r;
  // Exact-size buffers without a terminator: reading stops at their end.
  auto name = std::make_unique<char[]>(32);
  std::memset(name.get(), 'n', 32);
  auto path = std::make_unique<char[]>(256);
  std::memset(path.get(), 'p', 256);
  const int16_t one = 1;
  const auto put = [&](const char* repository_name, const char* file_path, const char* backup) {
    return marn_put_rep_data(0, repository_name, file_path, backup, &r.number_points, &one,
                             &r.queue_size, &r.global_file_set_size, &r.global_threshold,
                             &r.global_time_span, &r.past_time, &r.future_time, &r.cache_size,
                             &r.insert_size, &r.empty_file_sets);
  };
  EXPECT_NE(put(name.get(), "", ""), 0);
  EXPECT_NE(put("R", path.get(), ""), 0);
  name[31] = '\0';
  path[255] = '\0';
  ASSERT_EQ(put(name.get(), path.get(), path.get()), 0);
  historian::FileSetConfig f;
  const marn_time time{0, 0};
  path[255] = 'p';
  EXPECT_NE(marn_put_arc_data(0, 0, &f.history_status, path.get(), &time, &time, &f.size,
                              &f.threshold, &f.time_span),
            0);
  ASSERT_EQ(PutFileSetThroughApi(0, 0, f), 0);
  EXPECT_EQ(marn_write_hist_config(), 0);
  EXPECT_EQ(marn_read_hist_config(), 0);
  // The longest path comes back whole into a buffer of exactly 256 bytes.
  historian::RepositoryConfig got;
  int16_t count = 0;
  ASSERT_EQ(GetRepositoryThroughApi(MARN_SOURCE_CONFIG, 0, got, count), 0);
  EXPECT_EQ(got.file_path, std::string(255, 'p'));
  char repository_name[DRELL_NAME_SIZE];
  ASSERT_EQ(get_repos_name(MARN_SOURCE_CONFIG, 0, repository_name), 0);
  EXPECT_EQ(std::string(repository_name), std::string(31, 'n'));
}

TEST_F(MarnuserTest, IndexesAndSourcesOutsideTheConfigurationAreRefused) {
  WriteStored(SmallConfig(2));
  int16_t count = 0;
  EXPECT_NE(marn_get_number_repositories(MARN_SOURCE_CONFIG, &count), 0) << "source 1 needs a read";
  ASSERT_EQ(marn_read_hist_config(), 0);
  EXPECT_EQ(marn_get_number_repositories(MARN_SOURCE_CONFIG, &count), 0);
  EXPECT_EQ(count, 1);
  EXPECT_NE(marn_get_number_repositories(2, &count), 0);
  EXPECT_NE(marn_get_number_repositories(-1, &count), 0);
  EXPECT_NE(marn_get_number_arcs(MARN_SOURCE_CONFIG, 1, &count), 0);
  EXPECT_NE(marn_get_number_arcs(MARN_SOURCE_CONFIG, -1, &count), 0);
  historian::FileSetConfig f;
  const auto arc = [&f](int i, int j) { return GetFileSetThroughApi(MARN_SOURCE_CONFIG, i, j, f); };
  EXPECT_EQ(arc(0, 1), 0);
  const std::pair<int, int> outside[] = {{0, 2}, {0, -1}, {1, 0}, {-1, 0}, {32767, 0}};
  for (const auto& [i, j] : outside) {
    EXPECT_NE(arc(i, j), 0) << i << "," << j;
  }
}

TEST_F(MarnuserTest, AMalformedReadKeepsTheLastGoodOne) {
  const HistoryConfig good = SmallConfig(3);
  WriteStored(good);
  ASSERT_EQ(marn_read_hist_config(), 0);
  const std::string config_text = Read("config.dat");
  const std::string tune_text = Read("tune.dat");

  const struct {
    const char* what;
    const char* file;
    std::string text;
  } damage[] = {
      {"truncated config.dat", "config.dat", config_text.substr(0, config_text.size() / 2)},
      {"empty config.dat", "config.dat", ""},
      {"config.dat holding the tuning", "config.dat", tune_text},
      {"tune.dat holding the repositories", "tune.dat", config_text},
      {"truncated tune.dat", "tune.dat", tune_text.substr(0, tune_text.size() - 20)},
  };
  for (const auto& d : damage) {
    Write(d.file, d.text);
    EXPECT_NE(marn_read_hist_config(), 0) << d.what;
    EXPECT_NE(historian::TheMarnLibrary().LastReadFailure(), "") << d.what;
    ExpectShows(MARN_SOURCE_CONFIG, good, d.what);
    historian::TuningConfig tuning;
    ASSERT_EQ(GetTuningThroughApi(tuning), 0);
    EXPECT_EQ(tuning.values, good.tuning->values) << d.what;
    Write("config.dat", config_text);
    Write("tune.dat", tune_text);
  }

  std::filesystem::remove(File("tune.dat"));
  EXPECT_NE(marn_read_hist_config(), 0) << "tune.dat missing";
  std::filesystem::remove(File("config.dat"));
  std::filesystem::create_directory(File("config.dat"));
  Write("tune.dat", tune_text);
  EXPECT_NE(marn_read_hist_config(), 0) << "config.dat a directory";
  std::filesystem::remove(File("config.dat"));
  Write("config.dat", config_text);
  std::filesystem::resize_file(File("config.dat"), 64u << 20);  // refused unread
  EXPECT_NE(marn_read_hist_config(), 0) << "config.dat of 64 MiB";
  EXPECT_NE(historian::TheMarnLibrary().LastReadFailure().find("config.dat: larger than 16 MiB"),
            std::string::npos)
      << historian::TheMarnLibrary().LastReadFailure();
  ExpectShows(MARN_SOURCE_CONFIG, good);
}

TEST_F(MarnuserTest, SourceZeroReadsTheRunningSnapshotAndFallsBackToTheFiles) {
  const HistoryConfig stored = SmallConfig(1);
  const HistoryConfig running = SmallConfig(4);
  int16_t count = 0;
  EXPECT_NE(marn_get_number_repositories(MARN_SOURCE_RUNNING, &count), 0) << "no files at all";

  WriteStored(stored);
  ExpectShows(MARN_SOURCE_RUNNING, stored, "no running.dat");

  Write("running.dat", FormatConfigText(running, ConfigFileKind::kRunning));
  ExpectShows(MARN_SOURCE_RUNNING, running, "running.dat");
  char name[DRELL_NAME_SIZE];

  // A snapshot replaced by another of the same size is seen at once.
  HistoryConfig changed = running;
  changed.repositories[0].name = "REPO5";
  Write("running.dat", FormatConfigText(changed, ConfigFileKind::kRunning));
  ASSERT_EQ(get_repos_name(MARN_SOURCE_RUNNING, 0, name), 0);
  EXPECT_STREQ(name, "REPO5");

  Write("running.dat", "format_version = 1\n[[repository]]\n");
  EXPECT_NE(marn_get_number_repositories(MARN_SOURCE_RUNNING, &count), 0)
      << "a malformed snapshot is a failure, not a reason to fall back";
  EXPECT_NE(get_repos_name(MARN_SOURCE_RUNNING, 0, name), 0);
}

TEST_F(MarnuserTest, TuningComesFromWhatTheLibraryHolds) {
  HistoryConfig stored = SmallConfig(1);
  stored.tuning->values[20] = 111;
  HistoryConfig running = SmallConfig(1);
  running.tuning->values[20] = 222;
  historian::TuningConfig tuning;
  EXPECT_NE(GetTuningThroughApi(tuning), 0) << "nothing held, no running configuration";

  WriteStored(stored);
  Write("running.dat", FormatConfigText(running, ConfigFileKind::kRunning));
  ASSERT_EQ(GetTuningThroughApi(tuning), 0);
  EXPECT_EQ(tuning.values[20], 222) << "before any read or put: the running historian's";
  ASSERT_EQ(marn_read_hist_config(), 0);
  ASSERT_EQ(GetTuningThroughApi(tuning), 0);
  EXPECT_EQ(tuning.values[20], 111) << "after a read: tune.dat's";
  historian::TuningConfig put{};
  put.values[20] = 333;
  ASSERT_EQ(PutTuningThroughApi(put), 0);
  ASSERT_EQ(GetTuningThroughApi(tuning), 0);
  EXPECT_EQ(tuning.values[20], 333) << "after a put: the values put";
}

}  // namespace
}  // namespace kha::test
