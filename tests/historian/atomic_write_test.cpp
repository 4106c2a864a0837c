// A save replaces config.dat and tune.dat atomically: whichever file-system
// step fails, at whichever call, no temporary file is left behind (and the
// old files keep their bytes: tests/reliability/save_faults_test.cpp);
// retries, short writes, leftovers of dead savers, links and owners.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "config/atomic_files.h"
#include "config/config_text.h"
#include "config/file_system.h"
#include "config_dir_fixture.h"
#include "marn_api_calls.h"
#include "marnuser.h"
#include "os/os.h"
#include "sample_config.h"
#include "support/file_system_faults.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kha::test {
namespace {

namespace fs = std::filesystem;
using historian::ActiveFileSystem;
using historian::OsFileSystem;

using Faults = FileSystemFaults;

class AtomicWriteTest : public ConfigDirTest {
 protected:
  void TearDown() override {
    Faults::Remove();
    ConfigDirTest::TearDown();
  }

  // Puts `config` into marnuser, everything but the final write.
  static void PrepareSave(const historian::HistoryConfig& config) {
    ASSERT_EQ(PutThroughApi(config), 0);
  }

  // Every call of every step of a save failed in turn, each time on the
  // files that `prepare` leaves; `check` runs after each failed save.
  template <typename Prepare, typename Check>
  std::array<int, kStepCount> SweepSave(Prepare prepare, Check check) {
    return Faults::Sweep(
        0,
        [&] {
          prepare();
          PrepareSave(SampleConfig());
        },
        [] { return marn_write_hist_config(); },
        [&](FileSystemStep, int, int result) {
          EXPECT_NE(result, 0);
          check();
        });
  }
};

// (A failure over existing files leaves them byte for byte:
// tests/reliability/save_faults_test.cpp, through the library's save.)
TEST_F(AtomicWriteTest, AFailedFirstSaveLeavesNoFiles) {
  const auto good_calls = SweepSave(
      [&] {
        fs::remove(File("config.dat"));
        fs::remove(File("tune.dat"));
      },
      [&] { EXPECT_EQ(Listing(), ""); });
  // Each file is made aside and renamed over its place.
  EXPECT_EQ(good_calls[kCreate], 2);
  EXPECT_EQ(good_calls[kReplace], 2);
}

TEST_F(AtomicWriteTest, AFailedWriteCanBeRetried) {
  PrepareSave(SampleConfig());
  Faults::Install(kReplace, 2);
  EXPECT_NE(marn_write_hist_config(), 0);
  ActiveFileSystem() = OsFileSystem();
  ASSERT_EQ(marn_write_hist_config(), 0) << "the library keeps what it was given";
  ASSERT_EQ(marn_read_hist_config(), 0);
  ExpectShows(MARN_SOURCE_CONFIG, SampleConfig());
}

TEST_F(AtomicWriteTest, ShortWritesStillWriteEverything) {
  Faults::write_limit = 7;
  Faults::Install(kCreate, 0);
  PrepareSave(SampleConfig());
  ASSERT_EQ(marn_write_hist_config(), 0);
  EXPECT_GT(Faults::calls[kWrite], 100);
  ActiveFileSystem() = OsFileSystem();
  ASSERT_EQ(marn_read_hist_config(), 0);
  ExpectShows(MARN_SOURCE_CONFIG, SampleConfig());
}

TEST_F(AtomicWriteTest, AWriterThatMakesNoProgressFails) {
  const std::array<historian::FileReplacement, 1> files = {
      historian::FileReplacement{File("x.dat"), "contents"}};
  ActiveFileSystem().write_to_file = [](historian::os::FileHandle, const char*,
                                        std::size_t) -> std::ptrdiff_t { return 0; };
  EXPECT_FALSE(historian::ReplaceFilesAtomically(files));
  ActiveFileSystem() = OsFileSystem();
  EXPECT_EQ(Listing(), "");
  EXPECT_TRUE(historian::ReplaceFilesAtomically(files));
  EXPECT_EQ(Read("x.dat"), "contents");
}

// What a killed saver left behind goes with the next save once it is an
// hour old; a younger one may belong to a saver still at work, and files
// that only look alike are never touched.
TEST_F(AtomicWriteTest, TemporaryFilesOfADeadSaverGoWithTheNextSave) {
  const auto age = [&](const std::string& name, std::chrono::minutes minutes) {
    Write(name, "left behind");
    fs::last_write_time(File(name), fs::file_time_type::clock::now() - minutes);
  };
  age(".config.dat.0123456789abcdef.tmp", std::chrono::minutes(61));
  age(".tune.dat.fedcba9876543210.tmp", std::chrono::minutes(24 * 60));
  age(".config.dat.00000000000000aa.tmp", std::chrono::minutes(5));    // young
  age(".config.dat.0123456789abcdeg.tmp", std::chrono::minutes(120));  // not hex
  age(".config.dat.0123456789abcde.tmp", std::chrono::minutes(120));   // too short
  age(".other.dat.0123456789abcdef.tmp", std::chrono::minutes(120));   // another file
  age("config.dat.0123456789abcdef.tmp", std::chrono::minutes(120));   // no dot

  PrepareSave(SampleConfig());
  ASSERT_EQ(marn_write_hist_config(), 0);
  EXPECT_EQ(Listing(),
            ".config.dat.00000000000000aa.tmp .config.dat.0123456789abcde.tmp "
            ".config.dat.0123456789abcdeg.tmp .other.dat.0123456789abcdef.tmp config.dat "
            "config.dat.0123456789abcdef.tmp tune.dat ");
}

TEST_F(AtomicWriteTest, AnUnreadableOldFileStopsTheSaveBeforeAnyChange) {
  Write("tune.dat", "old");
  fs::create_directory(File("config.dat"));  // exists, but is no file
  PrepareSave(SampleConfig());
  EXPECT_NE(marn_write_hist_config(), 0);
  EXPECT_EQ(Read("tune.dat"), "old");
  EXPECT_TRUE(fs::is_directory(File("config.dat")));
  EXPECT_EQ(Listing(), "config.dat tune.dat ");
}

#ifndef _WIN32
// A save writes where a link leads and leaves the link; the new files keep
// the permissions of the old ones, and their owner and group where the
// saver may give them.
TEST_F(AtomicWriteTest, ASaveKeepsLinksPermissionsAndOwners) {
  fs::create_directory(File("real"));
  Write("real/config.dat", "old");
  fs::create_symlink("real/config.dat", File("config.dat"));
  fs::permissions(File("real/config.dat"), fs::perms(0600));
  Write("tune.dat", "old");
  fs::permissions(File("tune.dat"), fs::perms(0640));
  PrepareSave(SampleConfig());
  ASSERT_EQ(marn_write_hist_config(), 0);
  EXPECT_TRUE(fs::is_symlink(fs::symlink_status(File("config.dat"))));
  EXPECT_NE(Read("real/config.dat"), "old");
  EXPECT_EQ(fs::status(File("real/config.dat")).permissions(), fs::perms(0600));
  EXPECT_EQ(fs::status(File("tune.dat")).permissions(), fs::perms(0640));
  EXPECT_EQ(Listing(), "config.dat real tune.dat ");

  // A link that leads nowhere yet: the file is made where it leads.
  fs::remove(File("tune.dat"));
  fs::create_symlink("real/tune.dat", File("tune.dat"));
  PrepareSave(SampleConfig());
  ASSERT_EQ(marn_write_hist_config(), 0);
  EXPECT_TRUE(fs::is_symlink(fs::symlink_status(File("tune.dat"))));
  EXPECT_TRUE(fs::is_regular_file(File("real/tune.dat")));
}

TEST_F(AtomicWriteTest, ASaveKeepsTheOwnerWherePermittedAndNeverWidensAccess) {
  if (::geteuid() != 0) GTEST_SKIP() << "giving a file to another account needs root";
  constexpr uid_t kOther = 65534;  // a second account that is not the saver
  Write("config.dat", "old");
  Write("tune.dat", "old");
  ASSERT_EQ(::chown(File("config.dat").c_str(), 1, 1), 0);
  ASSERT_EQ(::chmod(File("config.dat").c_str(), 0640), 0);
  ASSERT_EQ(::chmod(File("tune.dat").c_str(), 0664), 0);
  PrepareSave(SampleConfig());
  ASSERT_EQ(marn_write_hist_config(), 0);
  struct stat kept {};
  ASSERT_EQ(::stat(File("config.dat").c_str(), &kept), 0);
  EXPECT_EQ(kept.st_uid, 1u);
  EXPECT_EQ(kept.st_gid, 1u);
  EXPECT_EQ(kept.st_mode & 07777, 0640u);

  // A saver that may not give the file away keeps it, and the group it
  // cannot keep gets no more than everyone else.
  ASSERT_EQ(::chmod(dir_.c_str(), 0777), 0);
  ASSERT_EQ(::chown(File("config.dat").c_str(), 1, 1), 0);
  ASSERT_EQ(::chmod(File("config.dat").c_str(), 0664), 0);
  PrepareSave(SampleConfig());
  ASSERT_EQ(::seteuid(kOther), 0);
  const int result = marn_write_hist_config();
  ASSERT_EQ(::seteuid(0), 0);
  ASSERT_EQ(result, 0);
  ASSERT_EQ(::stat(File("config.dat").c_str(), &kept), 0);
  EXPECT_EQ(kept.st_uid, kOther);
  EXPECT_EQ(kept.st_mode & 07777, 0644u);
}
#endif

// A reader that has the file open for a moment (a load in another process)
// does not fail the replace: Windows cannot replace a file while it is
// open, so the replace waits for the reader a while.
TEST_F(AtomicWriteTest, AReplaceWaitsForAReaderThatHasTheFileOpen) {
  Write("config.dat", "old");
  Write("config.dat.new", "new");
  auto reader = std::make_unique<std::ifstream>(File("config.dat"), std::ios::binary);
  ASSERT_TRUE(reader->is_open());
  std::thread closer([&reader] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    reader.reset();
  });
  const bool replaced = historian::os::RenameOver(File("config.dat.new"), File("config.dat"));
  closer.join();
  EXPECT_TRUE(replaced);
  EXPECT_EQ(Read("config.dat"), "new");
  EXPECT_EQ(Listing(), "config.dat ");
}

}  // namespace
}  // namespace kha::test
