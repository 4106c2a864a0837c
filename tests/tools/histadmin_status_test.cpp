// histadmin status tells an operator that a load or save died half way
// (its process ended while it held the mutex): the journal's record of it
// is shown until a run of the same kind ends. And which process holds the
// mutex, before it waits for it itself, and whether the table has changes
// that no save has written.
#include <gtest/gtest.h>
#include <unistd.h>

#include <new>
#include <string>
#include <thread>
#include <vector>

#include "histadmin_runs.h"
#include "kestihistadmin.h"
#include "region/journal.h"
#include "support/region_fixture.h"

namespace {

using kha::test::SpawnedProgram;

// The text of a histadmin run that must succeed.
std::string Histadmin(const std::vector<std::string>& arguments) {
  const kha::test::Said said = kha::test::RunHistadmin(arguments);
  EXPECT_EQ(said.status, 0) << said.text;
  return said.text;
}

class HistadminStatus : public kha::test::RegionTest {};

TEST_F(HistadminStatus, ShowsALoadWhoseProcessEndedHalfWayUntilOneFinishes) {
  EXPECT_EQ(Histadmin({"status"}).find("interrupted"), std::string::npos);
  EXPECT_NE(Histadmin({"status", "--json"}).find("\"Interrupted\": null"), std::string::npos);

  // A thread that ends in the middle of a load, holding the mutex; the
  // next taker rolls it back and records the load as interrupted.
  std::thread([] {
    LockHistAdminMutex();
    alignas(kha::TransferMark) static unsigned char storage[sizeof(kha::TransferMark)];
    new (storage) kha::TransferMark(kha::TransferKind::kLoadFromConfig);
  }).join();
  LockHistAdminMutex();
  UnlockHistAdminMutex();

  const std::string said = Histadmin({"status"});
  EXPECT_NE(said.find("histadmin load config (or the same library call) did not finish"),
            std::string::npos)
      << said;
  EXPECT_NE(Histadmin({"status", "--json"}).find("\"Interrupted\": \"load config\""),
            std::string::npos);

  LockHistAdminMutex();
  {
    kha::TransferMark finished(kha::TransferKind::kLoadFromConfig);
    (void)finished.Ended(KHA_OK);
  }
  UnlockHistAdminMutex();
  EXPECT_EQ(Histadmin({"status"}).find("interrupted"), std::string::npos);
}

// Runs a load or save of `kind` that returns `result`, as far as the
// journal can tell.
void RunTransfer(kha::TransferKind kind, int32_t result) {
  LockHistAdminMutex();
  {
    kha::TransferMark mark(kind);
    (void)mark.Ended(result);
  }
  UnlockHistAdminMutex();
}

TEST_F(HistadminStatus, SaysWhetherTheTableHasChangesNoSaveWrote) {
  const std::string none = "unsaved       nothing since the last load of config.dat or save";
  const std::string some = "unsaved       changes since the last load of config.dat or save";
  EXPECT_NE(Histadmin({"status"}).find(none), std::string::npos);  // a new region
  EXPECT_NE(Histadmin({"status", "--json"}).find("\"UnsavedChanges\": false"), std::string::npos);

  uint16_t slot = 0, number = 0;
  ASSERT_EQ(AddKestiHistAdminOneRepository("CHANGED", KHA_STATUS_NOT_SAVED, &slot, &number), 0);
  EXPECT_NE(Histadmin({"status"}).find(some), std::string::npos);
  EXPECT_NE(Histadmin({"status", "--json"}).find("\"UnsavedChanges\": true"), std::string::npos);

  // Neither a failed save nor a load from the running historian settles it.
  RunTransfer(kha::TransferKind::kSaveToConfig, KHA_WRITE_CONFIG_FAILED);
  RunTransfer(kha::TransferKind::kLoadFromMarn, KHA_OK);
  EXPECT_NE(Histadmin({"status"}).find(some), std::string::npos);
  RunTransfer(kha::TransferKind::kSaveToConfig, KHA_OK);
  EXPECT_NE(Histadmin({"status"}).find(none), std::string::npos);
  ASSERT_EQ(DeleteKestiHistAdminOneRepository(slot), 0);
  EXPECT_NE(Histadmin({"status"}).find(some), std::string::npos);
  RunTransfer(kha::TransferKind::kLoadFromConfig, KHA_OK);
  EXPECT_NE(Histadmin({"status"}).find(none), std::string::npos);
}

TEST_F(HistadminStatus, NamesTheProcessThatHoldsTheMutexBeforeWaitingForIt) {
  LockHistAdminMutex();
  SpawnedProgram status({KHA_HISTADMIN_PATH, "status"});
  std::string line;
  ASSERT_TRUE(status.ReadLine(&line));
  EXPECT_EQ(line.find("histadmin: the HistAdmin mutex is held by process " +
                      std::to_string(::getpid()) + " ("),
            0u)
      << line;
  UnlockHistAdminMutex();
  const std::string rest = status.ReadToEnd();
  EXPECT_EQ(status.Wait(), 0) << rest;
  EXPECT_NE(rest.find("held by process " + std::to_string(::getpid())), std::string::npos) << rest;
  EXPECT_NE(Histadmin({"status"}).find("free when status began"), std::string::npos);
}

}  // namespace
