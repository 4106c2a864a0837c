// drell: where the files are and when they changed, repository names of
// both sources, path normalisation and the mapping of network paths to
// local ones, never writing past the callers' buffers.
#include "drell.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>

#include "config/config_text.h"
#include "config_dir_fixture.h"
#include "drell/drell_library.h"
#include "drell/history_paths.h"
#include "os/os.h"
#include "sample_config.h"

namespace kha::test {
namespace {

namespace fs = std::filesystem;
using historian::NativeSeparator;

// The expected form of a path written with '/': the native separator.
std::string Native(std::string path) {
  std::replace(path.begin(), path.end(), '/', NativeSeparator());
  return path;
}

int64_t TimestampValue(const unsigned char (&bytes)[8]) {
  uint64_t bits = 0;
  for (int i = 7; i >= 0; --i) bits = bits << 8 | bytes[i];
  return static_cast<int64_t>(bits);
}

class DrellTest : public ConfigDirTest {};

TEST_F(DrellTest, ReportsThePathsAndTheirTimesOfLastChange) {
  Write("config.dat", "x");
  const auto when = std::chrono::sys_seconds{std::chrono::seconds{1700000000}} +
                    std::chrono::nanoseconds{123456789};
  fs::last_write_time(File("config.dat"), std::chrono::file_clock::from_sys(when));
  // What the file system kept: all nine digits here, whole seconds or
  // 100-nanosecond steps elsewhere.
  const int64_t kept = std::chrono::duration_cast<std::chrono::nanoseconds>(
                           std::chrono::file_clock::to_sys(fs::last_write_time(File("config.dat")))
                               .time_since_epoch())
                           .count();
  EXPECT_GE(kept, 1700000000000000000);
  EXPECT_LE(kept, 1700000000123456789);

  char path[DRELL_PATH_SIZE];
  unsigned char stamp[8];
  ASSERT_EQ(getConfigPathAndTimestamp(path, stamp), 0);
  EXPECT_EQ(std::string(path), historian::NormaliseHistoryPath((dir_ / "config.dat").string()));
  EXPECT_EQ(TimestampValue(stamp), kept);  // read little-endian

  std::memset(stamp, 0xAA, sizeof stamp);
  ASSERT_EQ(getTuningPathAndTimestamp(path, stamp), 0) << "a missing file still has its path";
  EXPECT_EQ(std::string(path), historian::NormaliseHistoryPath((dir_ / "tune.dat").string()));
  EXPECT_EQ(TimestampValue(stamp), 0);

  EXPECT_NE(getConfigPathAndTimestamp(nullptr, stamp), 0);
  EXPECT_NE(getConfigPathAndTimestamp(path, nullptr), 0);
}

TEST(Timestamp, IsLittleEndianTwosComplement) {
  unsigned char bytes[8];
  historian::StoreTimestamp(0x0102030405060708, bytes);
  const unsigned char expected[8] = {8, 7, 6, 5, 4, 3, 2, 1};
  EXPECT_EQ(std::memcmp(bytes, expected, 8), 0);
  historian::StoreTimestamp(-2, bytes);
  const unsigned char minus_two[8] = {0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(std::memcmp(bytes, minus_two, 8), 0);
  EXPECT_EQ(TimestampValue(minus_two), -2);
}

TEST_F(DrellTest, TheDirectoryComesFromTheEnvironmentOrTheDefault) {
  char path[DRELL_PATH_SIZE];
  unsigned char stamp[8];
  SetEnvironment(historian::kConfigDirectoryVariable, (dir_ / "sub//").string());
  ASSERT_EQ(getConfigPathAndTimestamp(path, stamp), 0);
  EXPECT_EQ(std::string(path), historian::NormaliseHistoryPath((dir_ / "sub/config.dat").string()));

  SetEnvironment(historian::kConfigDirectoryVariable, "");
  ASSERT_EQ(getConfigPathAndTimestamp(path, stamp), 0);
  EXPECT_EQ(std::string(path),
            historian::NormaliseHistoryPath(
                (historian::os::DefaultConfigDirectory() / "config.dat").string()));

  // A directory whose config.dat path does not fit 255 bytes: refused,
  // and the caller's buffer is left as it was.
  SetEnvironment(historian::kConfigDirectoryVariable, "/" + std::string(250, 'd'));
  std::memset(path, '#', sizeof path);
  EXPECT_NE(getConfigPathAndTimestamp(path, stamp), 0);
  EXPECT_EQ(path[0], '#');
}

TEST_F(DrellTest, RepositoryNamesOfBothSources) {
  historian::HistoryConfig stored = SampleConfig();
  Write("config.dat", historian::FormatConfigText(stored, historian::ConfigFileKind::kConfig));
  Write("tune.dat", historian::FormatConfigText(stored, historian::ConfigFileKind::kTuning));
  auto name = std::make_unique<char[]>(DRELL_NAME_SIZE);  // exact size: asan sees any overrun
  for (int source : {0, 1}) {
    for (std::size_t i = 0; i < stored.repositories.size(); ++i) {
      ASSERT_EQ(get_repos_name(source, static_cast<int>(i), name.get()), 0);
      EXPECT_EQ(std::string(name.get()), stored.repositories[i].name);
    }
    EXPECT_NE(get_repos_name(source, 3, name.get()), 0);
    EXPECT_NE(get_repos_name(source, -1, name.get()), 0);
    EXPECT_NE(get_repos_name(source, 0, nullptr), 0);
  }
  EXPECT_NE(get_repos_name(2, 0, name.get()), 0);

  historian::HistoryConfig running = stored;
  running.repositories.resize(1);
  running.repositories[0].name = "RUNNING";
  Write("running.dat", historian::FormatConfigText(running, historian::ConfigFileKind::kRunning));
  ASSERT_EQ(get_repos_name(0, 0, name.get()), 0);
  EXPECT_STREQ(name.get(), "RUNNING");
  EXPECT_NE(get_repos_name(0, 1, name.get()), 0);
  ASSERT_EQ(get_repos_name(1, 1, name.get()), 0);
  EXPECT_EQ(std::string(name.get()), stored.repositories[1].name);

  fs::remove(File("config.dat"));
  EXPECT_NE(get_repos_name(1, 0, name.get()), 0);
}

TEST_F(DrellTest, FilesAreReadAgainOnlyWhenTheyChanged) {
  historian::HistoryConfig running = SampleConfig();
  running.repositories[0].name = "AAAA";
  Write("running.dat", historian::FormatConfigText(running, historian::ConfigFileKind::kRunning));
  const auto an_hour_ago = fs::file_time_type::clock::now() - std::chrono::hours(1);
  fs::last_write_time(File("running.dat"), an_hour_ago);
  char name[DRELL_NAME_SIZE];
  ASSERT_EQ(get_repos_name(0, 0, name), 0);
  EXPECT_STREQ(name, "AAAA");

  // Same size, same time of last change, long settled: not read again.
  running.repositories[0].name = "BBBB";
  Write("running.dat", historian::FormatConfigText(running, historian::ConfigFileKind::kRunning));
  fs::last_write_time(File("running.dat"), an_hour_ago);
  ASSERT_EQ(get_repos_name(0, 0, name), 0);
  EXPECT_STREQ(name, "AAAA");

  // Any change of the time is noticed.
  fs::last_write_time(File("running.dat"), an_hour_ago + std::chrono::seconds(1));
  ASSERT_EQ(get_repos_name(0, 0, name), 0);
  EXPECT_STREQ(name, "BBBB");

  // So is a file that appears.
  fs::remove(File("running.dat"));
  EXPECT_NE(get_repos_name(0, 0, name), 0) << "no running.dat and no config.dat";
}

// Runs fixHistoryFilePath on `input` in an exact 256-byte heap buffer.
std::string Fixed(const std::string& input, int told_length = -2, int* result = nullptr) {
  auto buffer = std::make_unique<char[]>(DRELL_PATH_SIZE);
  std::memset(buffer.get(), 'x', DRELL_PATH_SIZE);
  std::memcpy(buffer.get(), input.data(), std::min<std::size_t>(input.size() + 1, DRELL_PATH_SIZE));
  const int length = told_length == -2 ? static_cast<int>(input.size()) : told_length;
  const int r = fixHistoryFilePath(buffer.get(), length, 1);
  if (result != nullptr) *result = r;
  EXPECT_NE(std::memchr(buffer.get(), '\0', DRELL_PATH_SIZE), nullptr) << "not terminated";
  return std::string(buffer.get(), strnlen(buffer.get(), DRELL_PATH_SIZE));
}

TEST(FixHistoryFilePath, NormalisesSeparators) {
  const struct {
    const char* input;
    const char* expected;
  } cases[] = {
      {"C:\\hist\\\\plant\\", "C:/hist/plant"},
      {"C:/hist/plant", "C:/hist/plant"},
      {"a//b///c", "a/b/c"},
      {"a\\/\\b", "a/b"},
      {"//host//share/x/", "//host/share/x"},
      {"\\\\\\host\\share", "//host/share"},
      {"\\\\host\\share\\", "//host/share"},
      {"/", "/"},
      {"///", "//"},
      {"\\\\", "//"},
      {"C:\\", "C:/"},
      {"C:\\\\", "C:/"},
      {"C:", "C:"},
      {"", ""},
      {"plain name.dat", "plain name.dat"},
      {"/var/lib/../x/./y/", "/var/lib/../x/./y"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Fixed(c.input), Native(c.expected)) << c.input;
  }
}

TEST(FixHistoryFilePath, StaysInsideTheBufferWhateverLengthItIsToldAndOnlyInModeOne) {
  int result = 0;
  const std::string longest(255, 'a');
  EXPECT_EQ(Fixed(longest, 255, &result), longest);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(Fixed(longest, 100000, &result), longest);
  EXPECT_EQ(Fixed(longest, -1, &result), longest);

  // 256 bytes without a terminator: cut to 255 and terminated, refused.
  auto full = std::make_unique<char[]>(DRELL_PATH_SIZE);
  std::memset(full.get(), 'b', DRELL_PATH_SIZE);
  EXPECT_NE(fixHistoryFilePath(full.get(), 1 << 30, 1), 0);
  EXPECT_EQ(std::string(full.get()), std::string(255, 'b'));
  std::memset(full.get(), '/', DRELL_PATH_SIZE);
  fixHistoryFilePath(full.get(), DRELL_PATH_SIZE, 1);
  EXPECT_EQ(std::string(full.get()), Native("//"));

  // A shorter length than the string: the path ends there.
  EXPECT_EQ(Fixed("/abc/def/", 5, &result), Native("/abc"));
  EXPECT_EQ(result, 0);

  // Only mode 1, and only a real buffer.
  char path[DRELL_PATH_SIZE] = "a//b";
  EXPECT_NE(fixHistoryFilePath(path, 4, 0), 0);
  EXPECT_NE(fixHistoryFilePath(path, 4, 2), 0);
  EXPECT_STREQ(path, "a//b");
  EXPECT_NE(fixHistoryFilePath(nullptr, 4, 1), 0);
}

class ConvertUncTest : public ConfigDirTest {
 protected:
  void SetUp() override {
    ConfigDirTest::SetUp();
    host_ = historian::os::HostName();
    Write("shares.dat",
          "format_version = 1\n[shares]\nHistory = '/srv/hist'\narchive = 'E:\\\\arch\\\\'\n");
  }

  static std::string Converted(const std::string& input, int* result = nullptr) {
    auto output = std::make_unique<char[]>(DRELL_PATH_SIZE);
    std::memset(output.get(), 'x', DRELL_PATH_SIZE);
    const int r = ConvertUNC2LocalPath(input.c_str(), output.get());
    if (result != nullptr) *result = r;
    EXPECT_NE(std::memchr(output.get(), '\0', DRELL_PATH_SIZE), nullptr) << "not terminated";
    return std::string(output.get(), strnlen(output.get(), DRELL_PATH_SIZE));
  }

  std::string host_;
};

// Network paths of this machine become local; any other path is left as it is.
TEST_F(ConvertUncTest, NetworkPathsOfThisMachineBecomeLocalAndNoOtherPath) {
  ASSERT_FALSE(host_.empty());
  std::string upper_host = host_;
  for (char& c : upper_host) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const struct {
    std::string input;
    std::string expected;  // empty: the input as it is
  } cases[] = {
      {"\\\\" + host_ + "\\history\\lab\\fs1.dat", Native("/srv/hist/lab/fs1.dat")},
      {"//" + upper_host + "/HISTORY/lab/", Native("/srv/hist/lab")},
      {"\\\\localhost\\History", Native("/srv/hist")},
      {"\\\\LocalHost/history//a\\\\b", Native("/srv/hist/a/b")},
      {"\\\\localhost\\archive\\x", Native("E:/arch/x")},
      {"\\\\localhost\\d$\\hist\\fs.dat", Native("d:/hist/fs.dat")},
      {"\\\\localhost\\D$", Native("D:/")},
      {"\\\\some-other-host\\history\\x", ""},
      {"\\\\" + host_ + "\\unknown-share\\x", ""},
      {"\\\\" + host_, ""},
      {"\\\\" + host_ + "\\", ""},
      {"\\\\\\history", ""},
      {"/var/lib//kesti/history/", ""},
      {"C:\\hist\\\\x", ""},
      {"relative\\path", ""},
      {"", ""},
  };
  for (const auto& c : cases) {
    int result = -1;
    EXPECT_EQ(Converted(c.input, &result), c.expected.empty() ? c.input : c.expected) << c.input;
    EXPECT_EQ(result, 0) << c.input;
  }
}

TEST_F(ConvertUncTest, WithoutUsableSharesOnlyDriveSharesMap) {
  Write("shares.dat", "format_version = 1\n[shares]\nhistory = 7\n");
  EXPECT_EQ(Converted("\\\\localhost\\history\\x"), "\\\\localhost\\history\\x");
  EXPECT_EQ(Converted("\\\\localhost\\C$\\x"), Native("C:/x"));
  fs::remove(File("shares.dat"));
  EXPECT_EQ(Converted("\\\\localhost\\history\\x"), "\\\\localhost\\history\\x");
}

TEST_F(ConvertUncTest, NeverWritesBeyondTheBuffer) {
  int result = 0;
  // A mapped path that would not fit: the input is given back.
  Write("shares.dat", "format_version = 1\n[shares]\nlong = '/" + std::string(200, 'l') + "'\n");
  const std::string deep = "\\\\localhost\\long\\" + std::string(100, 'd');
  EXPECT_EQ(Converted(deep, &result), deep);
  EXPECT_NE(result, 0);
  const std::string fits = "\\\\localhost\\long\\" + std::string(53, 'd');
  EXPECT_EQ(Converted(fits, &result),
            Native("/" + std::string(200, 'l') + "/" + std::string(53, 'd')));
  EXPECT_EQ(result, 0);
  Write("shares.dat", "format_version = 1\n[shares]\nhistory = '/srv/hist'\n");

  // An input of 256 bytes without a terminator: only its first 255 count.
  auto input = std::make_unique<char[]>(DRELL_PATH_SIZE);
  std::memset(input.get(), 'i', DRELL_PATH_SIZE);
  auto output = std::make_unique<char[]>(DRELL_PATH_SIZE);
  EXPECT_NE(ConvertUNC2LocalPath(input.get(), output.get()), 0);
  EXPECT_EQ(std::string(output.get()), std::string(255, 'i'));

  // The same buffer for both.
  char same[DRELL_PATH_SIZE] = "\\\\localhost\\history\\a";
  EXPECT_EQ(ConvertUNC2LocalPath(same, same), 0);
  EXPECT_EQ(std::string(same), Native("/srv/hist/a"));

  EXPECT_NE(ConvertUNC2LocalPath(same, nullptr), 0);
  EXPECT_NE(ConvertUNC2LocalPath(nullptr, output.get()), 0);
  EXPECT_EQ(output[0], '\0');
}

TEST(NamesThisMachine, FullNameFirstLabelOrLocalhost) {
  EXPECT_TRUE(historian::NamesThisMachine("box", "box.example.com"));
  EXPECT_TRUE(historian::NamesThisMachine("BOX.Example.COM", "box.example.com"));
  EXPECT_TRUE(historian::NamesThisMachine("LOCALHOST", ""));
  EXPECT_FALSE(historian::NamesThisMachine("box", ""));
  EXPECT_FALSE(historian::NamesThisMachine("bo", "box.example.com"));
  EXPECT_FALSE(historian::NamesThisMachine("box.example", "box.example.com"));
  EXPECT_FALSE(historian::NamesThisMachine("other", "box"));
}

}  // namespace
}  // namespace kha::test
