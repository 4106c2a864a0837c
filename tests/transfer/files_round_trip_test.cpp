// The transfer with the real marnuser and drell on real configuration
// files in a temporary directory.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "kestihistadmin.h"
#include "region/layout.h"
#include "region/region_view.h"
#include "support/environment.h"
#include "support/file_bytes.h"
#include "support/region_fixture.h"
#include "support/temporary_directory.h"

namespace kha::test {
namespace {

constexpr char kConfigDirectoryVariable[] = "KESTI_HISTORY_CONFIG_DIR";

std::string TuneText() {
  std::string text = "format_version = 1\n\n[tuning]\n";
  for (int i = 1; i <= 40; ++i) {
    char line[32];
    std::snprintf(line, sizeof(line), "value_%02d = %d\n", i, i == 2 ? -7 : 100 + i);
    text += line;
  }
  return text;
}

std::string RepositoryText(const std::string& name, const std::string& directory,
                           const std::vector<std::string>& file_sets) {
  std::string text = "[[repository]]\nname = '" + name + "'\nfile_path = '" + directory + "/" +
                     name +
                     "'\nbackup_file_path = ''\nnumber_points = 500\n"
                     "queue_size = 20\nglobal_file_set_size = 1000\nglobal_threshold = 0.5\n"
                     "global_time_span = 86400\npast_time = 3600\nfuture_time = 300\n"
                     "cache_size = 8192\ninsert_size = 512\nempty_file_sets = 2\n\n";
  int n = 0;
  for (const std::string& file_set : file_sets) {
    ++n;
    text += "  [[repository.file_set]]\n  history_status = 1\n  file_path = '" + directory + "/" +
            name + "/" + file_set + "'\n  start_time = { sec = " + std::to_string(1000 * n) +
            ", usec = 0 }\n  end_time = { sec = 0, usec = 0 }\n" +
            (n % 2 == 0 ? "  size = 2000\n  threshold = 0.25\n  time_span = 3600\n\n"
                        : "  size = -1\n  threshold = -1.0\n  time_span = -1\n\n");
  }
  return text;
}

class FilesRoundTripTest : public RegionTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(scratch_.Made());
    directory_ = scratch_.Path().string();
    SetEnvironment(kConfigDirectoryVariable, directory_);
    WriteFile("tune.dat", TuneText());
    WriteFile("config.dat", "format_version = 1\n\n" +
                                RepositoryText("PLANT_MAIN", directory_, {"fs1", "fs2", "fs3"}) +
                                RepositoryText("Lab", directory_, {"a", "b"}) +
                                RepositoryText("Empty", directory_, {}));
    RegionTest::SetUp();
  }
  void TearDown() override {
    RegionTest::TearDown();
    UnsetEnvironment(kConfigDirectoryVariable);
  }

  void WriteFile(const std::string& name, const std::string& text) {
    WriteFileBytes(scratch_.Path() / name, text);
  }
  std::string ReadFile(const std::string& name) { return ReadFileBytes(scratch_.Path() / name); }
  // The region's bytes without the two time stamps of the tuning block,
  // which follow the files' modification times.
  static std::vector<std::byte> RegionBytesWithoutTimestamps() {
    std::vector<std::byte> bytes = RegionViewBytes();
    std::memset(bytes.data() + 12 + 256, 0, 8);
    std::memset(bytes.data() + 12 + 520, 0, 8);
    return bytes;
  }
  static RepositoryRecord Repository(uint16_t slot) {
    RepositoryRecord record{};
    EXPECT_EQ(GetKestiHistAdminOneRepository(slot, &record), KHA_OK);
    return record;
  }

  TemporaryDirectory scratch_{"kha-transfer"};
  std::string directory_;
};

TEST_F(FilesRoundTripTest, LoadSaveAndLoadAgainGiveTheSameRegion) {
  // Without running.dat the running historian's configuration is what the files hold.
  ASSERT_EQ(LoadFromMarnIntoKestiHistAdmin(), KHA_OK);
  uint32_t size = 0;
  uint16_t high = 0, repositories = 0, fs_high = 0, file_sets = 0;
  ASSERT_EQ(GetKestiHistAdminHeader(&size, &high, &repositories, &fs_high, &file_sets), KHA_OK);
  EXPECT_EQ(repositories, 3);
  EXPECT_EQ(file_sets, 5);
  TuningData tuning{};
  ASSERT_EQ(GetKestiHistAdminTuningData(&tuning), KHA_OK);
  EXPECT_EQ(tuning.TuningValue2, -7);
  EXPECT_EQ(tuning.TuningValues14To40[26], 140);
  EXPECT_NE(std::string(tuning.ConfigFilePath).find("config.dat"), std::string::npos);

  const std::vector<std::byte> first = RegionBytesWithoutTimestamps();
  ASSERT_EQ(SaveKestiHistAdminToConfig(), KHA_OK);
  ASSERT_EQ(LoadFromMarnIntoKestiHistAdmin(), KHA_OK);
  EXPECT_TRUE(first == RegionBytesWithoutTimestamps());

  // The files name exactly what the region holds: everything is confirmed.
  ASSERT_EQ(LoadFromConfigIntoKestiHistAdmin(), KHA_OK);
  for (uint16_t slot = 1; slot <= 3; ++slot) EXPECT_EQ(Repository(slot).Status, 1);
  KestiHistAdminFileSet file_set{};
  for (uint16_t slot = 1; slot <= 5; ++slot) {
    ASSERT_EQ(GetKestiHistAdminOneFileSet(slot, &file_set), KHA_OK);
    EXPECT_EQ(file_set.RecordStatus, 1);
  }
}

TEST_F(FilesRoundTripTest, AChangeMadeThroughTheInterfaceReachesTheFiles) {
  ASSERT_EQ(LoadFromConfigIntoKestiHistAdmin(), KHA_OK);
  uint16_t slot = 0, number = 0;
  ASSERT_EQ(SearchKestiHistAdminRepositoryByName("lab", &slot, &number), KHA_OK);
  ASSERT_NE(slot, 0);
  RepositoryRecord lab = Repository(slot);
  lab.PendingNumberPoints = 12345;
  ASSERT_EQ(UpdateKestiHistAdminOneRepositoryHeader(1, slot, &lab), KHA_OK);

  uint16_t file_set_number = 0, file_set_slot = 0;
  ASSERT_EQ(AddKestiHistAdminOneFileSet(slot, &file_set_number, &file_set_slot), KHA_OK);
  KestiHistAdminFileSet file_set{};
  const std::string path = directory_ + "/Lab/added";
  std::memcpy(file_set.FilePath, path.c_str(), path.size() + 1);
  std::memcpy(file_set.PendingFilePath, path.c_str(), path.size() + 1);
  file_set.RecordStatus = 3;
  file_set.ParamSource = 1;
  file_set.PendingSize = 777;
  file_set.PendingThreshold = 0.125f;
  file_set.PendingTimespan = 60;
  ASSERT_EQ(UpdateKestiHistAdminOneFileSet(0, slot, file_set_slot, &file_set), KHA_OK);

  ASSERT_EQ(SaveKestiHistAdminToConfig(), KHA_OK);
  const std::string config = ReadFile("config.dat");
  EXPECT_NE(config.find("number_points = 12345"), std::string::npos);
  EXPECT_NE(config.find(path), std::string::npos);
  EXPECT_NE(config.find("size = 777"), std::string::npos);

  // Read back by the running historian's load (no running.dat).
  ASSERT_EQ(LoadFromMarnIntoKestiHistAdmin(), KHA_OK);
  ASSERT_EQ(SearchKestiHistAdminRepositoryByName("Lab", &slot, &number), KHA_OK);
  lab = Repository(slot);
  EXPECT_EQ(lab.NumberPoints, 12345);
  EXPECT_EQ(lab.NumberFS, 3);
}

TEST_F(FilesRoundTripTest, MalformedFilesFailTheReadAndLeaveTheRegionAsItWas) {
  ASSERT_EQ(LoadFromMarnIntoKestiHistAdmin(), KHA_OK);
  const std::vector<std::byte> before = RegionBytesWithoutTimestamps();
  const std::string good = ReadFile("config.dat");
  WriteFile("config.dat", good + "\nunknown_key = 1\n");
  EXPECT_EQ(LoadFromConfigIntoKestiHistAdmin(), KHA_CONFIG_READ_FAILED);
  EXPECT_TRUE(before == RegionBytesWithoutTimestamps());
}

}  // namespace
}  // namespace kha::test
