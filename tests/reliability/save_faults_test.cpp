// Hostile files and saves. A save of the region is made to fail at every
// step of the file system, one call at a time: every write, every flush to
// disk, every close, every rename and the flush of the directory. After
// each failure config.dat and tune.dat must be, byte for byte, the files
// from before the save; after a save that gets through, those of the new
// configuration; the region is never changed, and no temporary file stays.
// A saver process killed at random moments must leave each file whole,
// old or new. Configuration files full of damage must be refused or read
// without leaving the tables inconsistent.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "config/file_system.h"
#include "figures.h"
#include "kestihistadmin.h"
#include "region/process_state.h"
#include "support/child_process.h"
#include "support/environment.h"
#include "support/file_bytes.h"
#include "support/file_system_faults.h"
#include "support/region_fixture.h"
#include "support/temporary_directory.h"
#include "support/watchdog.h"
#include "tools/verify/region_verifier.h"

namespace kha::test::reliability {
namespace {

namespace fs = std::filesystem;

constexpr char kConfigDirectoryVariable[] = "KESTI_HISTORY_CONFIG_DIR";
constexpr uint32_t kRegionSize = 200000;

// Short writes throughout, so that a file takes many writes.
constexpr std::size_t kWriteLimit = 512;

// Every file of the directory but the two configuration files.
std::vector<std::string> Strays(const fs::path& directory) {
  std::vector<std::string> strays;
  for (const auto& entry : fs::directory_iterator(directory)) {
    const std::string name = entry.path().filename().string();
    if (name != "config.dat" && name != "tune.dat") strays.push_back(name);
  }
  return strays;
}

struct ConfigFiles {
  std::string config, tune;
  bool operator==(const ConfigFiles&) const = default;
};

ConfigFiles FilesIn(const fs::path& directory) {
  return {ReadFileBytes(directory / "config.dat"), ReadFileBytes(directory / "tune.dat")};
}

void AddRepository(const char* name, int status, int file_sets) {
  uint16_t slot = 0, number = 0;
  ASSERT_EQ(AddKestiHistAdminOneRepository(name, status, &slot, &number), KHA_OK);
  KestiHistAdminRepository repository{};
  repository.Status = status;
  std::snprintf(repository.PendingFilePath, sizeof repository.PendingFilePath, "/hist/%s", name);
  repository.PendingNumberPoints = 1000 + file_sets;
  repository.PendingGlobalThreshold = 0.5f;
  ASSERT_EQ(UpdateKestiHistAdminOneRepositoryHeader(0, slot, &repository), KHA_OK);
  for (int f = 0; f < file_sets; ++f) {
    uint16_t fs_number = 0, fs_slot = 0;
    ASSERT_EQ(AddKestiHistAdminOneFileSet(slot, &fs_number, &fs_slot), KHA_OK);
    KestiHistAdminFileSet file_set{};
    file_set.RecordStatus = f % 2 == 0 ? 1 : 3;
    file_set.ParamSource = f % 2;
    file_set.PendingSize = 100 * f;
    file_set.StartTime.Seconds = 1000 * (f + 1);
    std::snprintf(file_set.PendingFilePath, sizeof file_set.PendingFilePath, "/hist/%s/fs%d", name,
                  f);
    ASSERT_EQ(UpdateKestiHistAdminOneFileSet(0, slot, fs_slot, &file_set), KHA_OK);
  }
}

class SaveFaults : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(scratch_.Made());
    directory_ = scratch_.Path() / "config";
    fs::create_directories(directory_);
    SetEnvironment(kConfigDirectoryVariable, directory_.string());
    ASSERT_EQ(SetupAndAttachToKestiHistAdminSharedMemory(kRegionSize), KHA_OK);
    // The old configuration: what the files hold before the save.
    AddRepository("Plant", 1, 3);
    AddRepository("Lab", 3, 1);
    ASSERT_EQ(SaveKestiHistAdminToConfig(), KHA_OK);
    old_ = FilesIn(directory_);
    // The new one: the region as it is now, saved once into a directory
    // of its own.
    AddRepository("Warehouse", 1, 4);
    KestiHistAdminTuningData tuning{};
    ASSERT_EQ(GetKestiHistAdminTuningData(&tuning), KHA_OK);
    tuning.TuningValues14To40[3] = 77;
    ASSERT_EQ(PutKestiHistAdminTuningData(&tuning), KHA_OK);
    const fs::path elsewhere = scratch_.Path() / "new";
    fs::create_directories(elsewhere);
    SetEnvironment(kConfigDirectoryVariable, elsewhere.string());
    ASSERT_EQ(SaveKestiHistAdminToConfig(), KHA_OK);
    new_ = FilesIn(elsewhere);
    SetEnvironment(kConfigDirectoryVariable, directory_.string());
    ASSERT_NE(old_.config, new_.config);
    ASSERT_NE(old_.tune, new_.tune);
  }
  void TearDown() override {
    FileSystemFaults::Remove();
    DetachCompletely();
    UnsetEnvironment(kConfigDirectoryVariable);
  }

  void PutOldFilesBack() {
    WriteFileBytes(directory_ / "config.dat", old_.config);
    WriteFileBytes(directory_ / "tune.dat", old_.tune);
  }

  TemporaryDirectory scratch_{"kha-reliability"};
  fs::path directory_;
  ConfigFiles old_, new_;
};

TEST_F(SaveFaults, EveryFailedStepLeavesTheOldFilesAndEverySuccessTheNew) {
  const std::vector<std::byte> region = RegionViewBytes();
  int64_t injected = 0, not_old = 0, region_changed = 0, strays = 0, wrong_code = 0;
  const auto good = FileSystemFaults::Sweep(
      kWriteLimit, [&] { PutOldFilesBack(); }, [] { return SaveKestiHistAdminToConfig(); },
      [&](FileSystemStep, int, int32_t result) {
        ++injected;
        if (!(FilesIn(directory_) == old_)) {
          ++not_old;
          ADD_FAILURE() << "the files are not the old ones";
        }
        if (result != KHA_WRITE_CONFIG_FAILED) {
          ++wrong_code;
          ADD_FAILURE() << "result " << result;
        }
        if (RegionViewBytes() != region) ++region_changed;
        const std::vector<std::string> left = Strays(directory_);
        strays += static_cast<int64_t>(left.size());
        EXPECT_TRUE(left.empty()) << left.front();
      });
  // And the save goes through once nothing fails.
  PutOldFilesBack();
  ASSERT_EQ(SaveKestiHistAdminToConfig(), KHA_OK);
  EXPECT_EQ(FilesIn(directory_), new_);

  std::string calls;
  for (int step = 0; step < kStepCount; ++step) {
    calls += std::string(step == 0 ? "" : ", ") + kStepNames[step] + " " +
             std::to_string(good[static_cast<std::size_t>(step)]);
  }
  std::printf("file-system calls of one save: %s\n", calls.c_str());
  Figure("save_faults", "failures_injected", static_cast<double>(injected), "information");
  Figure("save_faults", "failures_that_changed_the_files", static_cast<double>(not_old),
         "must be 0");
  Figure("save_faults", "failures_reported_otherwise", static_cast<double>(wrong_code),
         "must be 0");
  Figure("save_faults", "region_changed_by_a_save", static_cast<double>(region_changed),
         "must be 0");
  Figure("save_faults", "temporary_files_left", static_cast<double>(strays), "must be 0");
  EXPECT_GT(injected, 10);
  EXPECT_EQ(not_old + wrong_code + region_changed + strays, 0);
}

// Child: attaches and saves, again and again, until it is killed.
int Saver(const std::vector<std::string>&) {
  DieWithParent();
  if (AttachToKestiHistAdminSharedMemory() != KHA_OK) return 4;
  for (;;) {
    if (SaveKestiHistAdminToConfig() != KHA_OK) return 5;
  }
}
KHA_CHILD_ROLE("saver", Saver);

TEST_F(SaveFaults, ASaverKilledAtAnyMomentLeavesEachFileWhole) {
  const int64_t kills = Size("SAVE_KILLS", 50, 500);
  std::mt19937_64 random(99);
  int64_t torn = 0, mixed = 0, strays = 0, saves_after = 0;
  Watchdog watchdog("the killed saves", std::chrono::seconds(Size("TIMEOUT_S", 900, 36000)));
  for (int64_t k = 0; k < kills; ++k) {
    PutOldFilesBack();
    Child saver("saver");
    std::this_thread::sleep_for(std::chrono::microseconds(2000 + random() % 8000));
    saver.Kill();
    EXPECT_EQ(saver.Wait(), kKilledExitCode) << "the saver ended by itself";
    const ConfigFiles files = FilesIn(directory_);
    const bool config_whole = files.config == old_.config || files.config == new_.config;
    const bool tune_whole = files.tune == old_.tune || files.tune == new_.tune;
    if (!config_whole || !tune_whole) ++torn;
    if (config_whole && tune_whole && !(files == old_) && !(files == new_)) ++mixed;
    strays += static_cast<int64_t>(Strays(directory_).size());
    // Whatever a killed save left behind, the next one goes through.
    if (k % 10 == 0) {
      ASSERT_EQ(SaveKestiHistAdminToConfig(), KHA_OK);
      EXPECT_EQ(FilesIn(directory_), new_);
      ++saves_after;
    }
    for (const std::string& stray : Strays(directory_)) fs::remove(directory_ / stray);
  }
  Figure("save_kills", "savers_killed", static_cast<double>(kills), "information");
  Figure("save_kills", "files_torn", static_cast<double>(torn), "must be 0");
  Figure("save_kills", "pairs_one_old_one_new", static_cast<double>(mixed),
         "information: a kill between the two renames");
  Figure("save_kills", "temporary_files_left_by_killed_savers", static_cast<double>(strays),
         "information");
  Figure("save_kills", "saves_after_a_kill_that_went_through", static_cast<double>(saves_after),
         "all");
  EXPECT_EQ(torn, 0);
}

TEST_F(SaveFaults, DamagedConfigurationFilesNeverLeaveTheTablesInconsistent) {
  // The new configuration's files, damaged in many ways, read by both loads.
  std::vector<std::string> damaged = {"", "\x01\x02\x03", "format_version = 99\n",
                                      std::string(5000, '['), new_.config + "\n[[repository]]\n"};
  for (std::size_t cut = 0; cut < new_.config.size(); cut += 97) {
    damaged.push_back(new_.config.substr(0, cut));
  }
  std::string flipped = new_.config;
  for (std::size_t i = 0; i < flipped.size(); i += 13)
    flipped[i] = static_cast<char>(flipped[i] ^ 0x5a);
  damaged.push_back(flipped);
  std::string long_name = new_.config;
  if (const std::size_t at = long_name.find("Plant"); at != std::string::npos) {
    long_name.insert(at, std::string(400, 'N'));
  }
  damaged.push_back(long_name);

  int64_t loads = 0, refused = 0, inconsistent = 0;
  for (const std::string& config : damaged) {
    for (const std::string& tune : {new_.tune, std::string("garbage\x7f")}) {
      WriteFileBytes(directory_ / "config.dat", config);
      WriteFileBytes(directory_ / "tune.dat", tune);
      for (int which = 0; which < 2; ++which) {
        const int32_t result =
            which == 0 ? LoadFromConfigIntoKestiHistAdmin() : LoadFromMarnIntoKestiHistAdmin();
        ++loads;
        refused += result != KHA_OK ? 1 : 0;
        const auto found = verify::VerifyRegion();
        inconsistent += found.empty() ? 0 : 1;
        for (const auto& v : found) ADD_FAILURE() << v.message;
      }
    }
  }
  Figure("hostile_files", "loads_of_damaged_files", static_cast<double>(loads), "information");
  Figure("hostile_files", "refused", static_cast<double>(refused), "information");
  Figure("hostile_files", "tables_inconsistent_after_a_load", static_cast<double>(inconsistent),
         "must be 0");
  EXPECT_EQ(inconsistent, 0);
}

}  // namespace
}  // namespace kha::test::reliability
