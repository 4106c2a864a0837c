// histadmin as a service runs it: `serve` started again while a client
// still holds the region adopts it with its changes; a first start with no
// config.dat serves an empty region and records where the files belong;
// `save` writes the directory the region was loaded from, and elsewhere
// only when told so with --to.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "histadmin_runs.h"
#include "kestihistadmin.h"
#include "support/file_bytes.h"
#include "support/temporary_directory.h"
#include "support/watchdog.h"

namespace {

using kha::test::ReadFileBytes;
using kha::test::RunHistadmin;
using kha::test::Said;
using kha::test::SpawnedProgram;
namespace fs = std::filesystem;

// A `histadmin serve` in the background, up to its announcement.
class Server {
 public:
  explicit Server(const std::vector<std::string>& arguments)
      : program_([&] {
          std::vector<std::string> command{KHA_HISTADMIN_PATH, "serve"};
          command.insert(command.end(), arguments.begin(), arguments.end());
          return command;
        }()) {
    kha::test::ReadUntil(program_, "serving a HistAdmin region", &said_);
  }
  const std::string& said() const { return said_; }
  int Stop() {
    program_.Signal(SIGTERM);
    said_ += program_.ReadToEnd();
    return program_.Wait();
  }

 private:
  SpawnedProgram program_;
  std::string said_;
};

bool HasRepository(const char* name) {
  uint16_t slot = 0, number = 0;
  return SearchKestiHistAdminRepositoryByName(name, &slot, &number) == KHA_OK && slot != 0;
}

class HistadminService : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(config_.Made());
    ::setenv("KESTI_HISTORY_CONFIG_DIR", config_.Path().c_str(), 1);
  }
  void TearDown() override { ::unsetenv("KESTI_HISTORY_CONFIG_DIR"); }

  kha::test::Watchdog watchdog_{"a histadmin serve or save"};
  kha::test::TemporaryDirectory config_{"kha-service"};
};

TEST_F(HistadminService, AServerStartedAgainAdoptsTheRegionItsClientHeldWithItsChanges) {
  kha::test::CopyExampleConfig(config_.Path());
  Server first({"--size", "256k", "--load", "config"});
  ASSERT_NE(first.said().find("loaded from the configuration files"), std::string::npos)
      << first.said();
  ASSERT_EQ(AttachToKestiHistAdminSharedMemory(), KHA_OK);
  uint16_t slot = 0, number = 0;
  ASSERT_EQ(AddKestiHistAdminOneRepository("UNSAVED", KHA_STATUS_ACTIVE, &slot, &number), KHA_OK);
  EXPECT_EQ(first.Stop(), 0) << first.said();

  // No server now: the client alone keeps the region. A new one takes it
  // as it is, whatever it is told to load and of what size.
  Server second({"--size", "512k", "--load", "config"});
  EXPECT_NE(second.said().find("serving a HistAdmin region of 262144 bytes (adopted as it was"),
            std::string::npos)
      << second.said();
  EXPECT_TRUE(HasRepository("UNSAVED"));
  EXPECT_TRUE(HasRepository("PLANT_MAIN")) << "the loaded table was not kept";
  EXPECT_EQ(DetachFromKestiHistAdminSharedMemory(), KHA_OK);
  EXPECT_EQ(second.Stop(), 0) << second.said();
}

TEST_F(HistadminService, AFirstStartWithoutConfigDatServesEmptyAndTheSaveWritesItThere) {
  Server server({"--size", "256k", "--load", "config"});
  EXPECT_NE(server.said().find("(empty: no config.dat yet)"), std::string::npos) << server.said();
  EXPECT_NE(server.said().find(config_.File("config.dat") + " does not exist"), std::string::npos)
      << server.said();
  const Said status = RunHistadmin({"status"});
  EXPECT_NE(status.text.find(config_.File("config.dat") + " (no such file yet)"), std::string::npos)
      << status.text;

  // An administrator's shell names no directory: the save still goes to
  // the one the server was given.
  ::unsetenv("KESTI_HISTORY_CONFIG_DIR");
  ASSERT_EQ(RunHistadmin({"add-repo", "FIRST"}).status, 0);
  const Said save = RunHistadmin({"save"});
  EXPECT_EQ(save.status, 0) << save.text;
  EXPECT_NE(
      save.text.find("saved to " + config_.File("config.dat") + " and " + config_.File("tune.dat")),
      std::string::npos)
      << save.text;
  EXPECT_NE(ReadFileBytes(config_.Path() / "config.dat").find("FIRST"), std::string::npos);
  EXPECT_EQ(server.Stop(), 0);
}

TEST_F(HistadminService, ASaveElsewhereThanTheRegionsDirectoryNeedsToAndAFailedOneSaysWhy) {
  kha::test::CopyExampleConfig(config_.Path());
  Server server({"--size", "256k", "--load", "config"});
  kha::test::TemporaryDirectory other("kha-service-other");
  ASSERT_TRUE(other.Made());

  ::setenv("KESTI_HISTORY_CONFIG_DIR", other.Path().c_str(), 1);
  const Said refused = RunHistadmin({"save"});
  EXPECT_EQ(refused.status, 1) << refused.text;
  EXPECT_NE(refused.text.find("save --to " + other.Path().string()), std::string::npos)
      << refused.text;
  EXPECT_FALSE(fs::exists(other.Path() / "config.dat"));

  const Said elsewhere = RunHistadmin({"save", "--to", other.Path().string()});
  EXPECT_EQ(elsewhere.status, 0) << elsewhere.text;
  EXPECT_NE(elsewhere.text.find("saved to " + other.File("config.dat") + " and " +
                                other.File("tune.dat") + " (the region was loaded from " +
                                config_.Path().string() + ")"),
            std::string::npos)
      << elsewhere.text;
  EXPECT_TRUE(fs::exists(other.Path() / "config.dat"));

  const std::string missing = other.File("missing");
  const Said failed = RunHistadmin({"save", "--to", missing});
  EXPECT_EQ(failed.status, 1) << failed.text;
  EXPECT_NE(
      failed.text.find("marnuser: the configuration files cannot be written: " + missing + "/."),
      std::string::npos)
      << failed.text;
  EXPECT_NE(failed.text.find(": No such file or directory"), std::string::npos) << failed.text;
  EXPECT_NE(failed.text.find("cannot save to the configuration files in " + missing),
            std::string::npos)
      << failed.text;
  EXPECT_EQ(server.Stop(), 0);
}

}  // namespace
