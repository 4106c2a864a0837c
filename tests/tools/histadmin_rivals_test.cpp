// histadmin against rivals on the same machine: a name of the region taken
// by another account is reported with its owner, of two servers started
// together exactly one serves while the region keeps what it loaded, a
// change started while a server sets up lands after the server's own
// load, never between its set-up and its load, and something else than a
// plain file under the server's claim is reported, not waited on.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "histadmin_runs.h"
#include "kestihistadmin.h"
#include "platform/platform.h"
#include "platform/testing/name_prefix.h"
#include "region/tools_door.h"
#include "support/temporary_directory.h"
#include "support/watchdog.h"

namespace {

using kha::test::ReadUntil;
using kha::test::SpawnedProgram;

constexpr char kServing[] = "serving a HistAdmin region";

std::string PrefixedName(const char* bare) {
  const char* prefix = std::getenv(kha::platform::kNamePrefixVariable);
  return std::string(prefix != nullptr ? prefix : "") + bare;
}

// The squatter, another account, leaves a file under the mutex's name:
// at 0600 no other account can open it, and the library sees only a
// mutex it cannot create; at 0666 (and of the mutex's size) a set-up
// refuses it as another account's, which could remove it under the
// region later. (Root opens anything: the server runs as a third
// account.)
TEST(HistadminRivals, ServeNamesTheOwnerOfASquattedName) {
  if (!kha::test::CanRunAsOtherAccounts()) {
    GTEST_SKIP() << "the squatter and the server are two other accounts: needs root and setpriv";
  }
  const std::string histadmin = KHA_HISTADMIN_PATH;
  {
    SpawnedProgram probe(kha::test::AsAccount(kha::test::kThirdAccount, {histadmin, "--help"}));
    probe.ReadToEnd();
    if (probe.Wait() != 0) GTEST_SKIP() << "another account cannot run " << histadmin;
  }
  const std::string path = "/dev/shm/" + PrefixedName("KESTICORE_HISTADMIN_MUTEX");
  const int fd = ::open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::fchown(fd, kha::test::kOtherAccount, kha::test::kOtherAccount), 0);
  ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(kha::inspection::MutexObjectBytes())), 0);
  ::close(fd);

  for (const mode_t mode : {0600, 0666}) {
    ASSERT_EQ(::chmod(path.c_str(), mode), 0);
    SpawnedProgram serve(
        kha::test::AsAccount(kha::test::kThirdAccount, {histadmin, "serve", "--size", "64k"}));
    const std::string said = serve.ReadToEnd();
    EXPECT_NE(serve.Wait(), 0) << said;
    EXPECT_NE(said.find(path + " is owned by uid " + std::to_string(kha::test::kOtherAccount)),
              std::string::npos)
        << said;
    EXPECT_NE(said.find(mode == 0600 ? "this account may not read and write it"
                                     : "it belongs to another account"),
              std::string::npos)
        << said;
  }
  ::unlink(path.c_str());
}

// A FIFO under the claim's name would hold an open for reading until some
// writer came: serve must say what is there and end.
TEST(HistadminRivals, ServeRefusesAFifoUnderTheClaimsName) {
  const std::string path = "/dev/shm/" + PrefixedName("KESTICORE_HISTADMIN_SERVER");
  ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0);
  kha::test::Watchdog watchdog("serve with a FIFO under the claim's name");
  SpawnedProgram serve({KHA_HISTADMIN_PATH, "serve", "--size", "64k"});
  const std::string said = serve.ReadToEnd();
  EXPECT_EQ(serve.Wait(), 1) << said;
  EXPECT_NE(said.find(path + " is a FIFO"), std::string::npos) << said;
  EXPECT_NE(said.find("rm " + path), std::string::npos) << said;
  ::unlink(path.c_str());
}

TEST(HistadminRivals, OfTwoServersStartedTogetherOneServesAndTheLoadStays) {
  kha::test::TemporaryDirectory config("kha-rivals");
  ASSERT_TRUE(config.Made());
  kha::test::CopyExampleConfig(config.Path());
  ::setenv("KESTI_HISTORY_CONFIG_DIR", config.Path().c_str(), 1);
  // Each becomes the server once its input ends, so that both start as
  // nearly at once as two processes can.
  const std::vector<std::string> command{
      "sh", "-c", "read line; exec \"$0\" serve --size 1M --load config", KHA_HISTADMIN_PATH};
  for (int round = 0; round < 20; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    SpawnedProgram first(command), second(command);
    first.CloseInput();
    second.CloseInput();
    std::string first_said, second_said;
    const bool first_serves = ReadUntil(first, kServing, &first_said);
    const bool second_serves = ReadUntil(second, kServing, &second_said);
    ASSERT_NE(first_serves, second_serves) << first_said << "---\n" << second_said;
    SpawnedProgram& refused = first_serves ? second : first;
    EXPECT_NE(refused.Wait(), 0);
    EXPECT_NE((first_serves ? second_said : first_said).find("already running"), std::string::npos);

    ASSERT_EQ(AttachToKestiHistAdminSharedMemory(), KHA_OK);
    uint32_t size = 0;
    uint16_t repos_high_water = 0, repos = 0, fs_high_water = 0, file_sets = 0;
    EXPECT_EQ(GetKestiHistAdminHeader(&size, &repos_high_water, &repos, &fs_high_water, &file_sets),
              KHA_OK);
    EXPECT_GT(repos, 0) << "the region was emptied after its load";
    EXPECT_EQ(DetachFromKestiHistAdminSharedMemory(), KHA_OK);

    SpawnedProgram& server = first_serves ? first : second;
    server.Signal(SIGTERM);
    EXPECT_EQ(server.Wait(), 0);
  }
}

// The server is held between its set-up and its load (the tool as the
// tests run it pauses there while a file exists). A `load config` started
// then must wait: had it landed, the server's load from the running
// historian would empty what it merged, and fs0004.dat, which only the
// running historian names, would not be marked (status 2) by the merge.
TEST(HistadminRivals, ALoadStartedWhileServeSetsUpLandsAfterServesOwnLoad) {
  kha::test::TemporaryDirectory config("kha-hold");
  ASSERT_TRUE(config.Made());
  kha::test::CopyExampleConfig(config.Path());
  ::setenv("KESTI_HISTORY_CONFIG_DIR", config.Path().c_str(), 1);
  const std::string pause = config.File("pause");
  ASSERT_TRUE(kha::test::Touch(pause));
  ::setenv("KESTIHISTADMIN_TEST_SERVE_PAUSE", pause.c_str(), 1);
  SpawnedProgram serve({KHA_HISTADMIN_PATH, "serve", "--size", "1M", "--load", "running"});
  ::unsetenv("KESTIHISTADMIN_TEST_SERVE_PAUSE");
  std::string paused;
  ASSERT_TRUE(ReadUntil(serve, "paused between the set-up and the load", &paused)) << paused;

  {
    SpawnedProgram wait({KHA_HISTADMIN_PATH, "wait", "--timeout", "0"});
    const std::string said = wait.ReadToEnd();
    EXPECT_EQ(wait.Wait(), 1) << "a region whose server has not loaded it is not ready: " << said;
  }
  SpawnedProgram rival({KHA_HISTADMIN_PATH, "load", "config"});
  std::string waiting;
  ASSERT_TRUE(ReadUntil(rival, "to finish loading the region", &waiting)) << waiting;
  ASSERT_NE(waiting.find("waiting for `histadmin serve`"), std::string::npos) << waiting;
  ::unlink(pause.c_str());
  const std::string merged = waiting + rival.ReadToEnd();
  EXPECT_EQ(rival.Wait(), 0) << merged;
  EXPECT_NE(merged.find("configuration files merged"), std::string::npos) << merged;

  SpawnedProgram show({KHA_HISTADMIN_PATH, "show", "PLANT_MAIN", "--json"});
  const std::string shown = show.ReadToEnd();
  EXPECT_EQ(show.Wait(), 0) << shown;
  const std::size_t fs0004 = shown.find("plant_main/fs0004.dat");
  ASSERT_NE(fs0004, std::string::npos) << shown;
  const std::size_t status = shown.rfind("\"RecordStatus\": ", fs0004);
  ASSERT_NE(status, std::string::npos) << shown;
  EXPECT_EQ(shown.substr(status, 18), "\"RecordStatus\": 2,") << shown;

  serve.Signal(SIGTERM);
  EXPECT_EQ(serve.Wait(), 0);
}

}  // namespace
