// Both loads with each of their flushes failing in turn: a failing flush
// of the tuning block or the header ends the load with its code; one inside
// a repository ends only that repository. Either way the region stays
// consistent.
#include <gtest/gtest.h>

#include <functional>
#include <utility>
#include <vector>

#include "support/fault_platform.h"
#include "support/fault_sweep.h"
#include "transfer/transfer_fixture.h"

namespace kha::test {
namespace {

using platform::Call;

class TransferFlushFailureTest : public TransferTest {
 protected:
  // Runs `load` with its nth flush failing, for n = 1, 2, ... until a run
  // fails no flush. Returns the results of the failed runs.
  std::vector<int32_t> Sweep(std::function<void()> prepare, std::function<int32_t()> load) {
    ScopedFaultPlatform faults;
    return RunFaultSweep(faults, {.call = Call::kFlushView,
                                  .promised = {KHA_OK, KHA_FLUSH_VIEW_FAILED},
                                  .prepare = std::move(prepare),
                                  .operation = std::move(load),
                                  .after =
                                      [](int, int32_t, bool met) {
                                        if (met) ExpectConsistentTables(/*leftovers_allowed=*/true);
                                      },
                                  .limit = 200});
  }
};

TEST_F(TransferFlushFailureTest, LoadFromTheRunningHistorian) {
  historian().running.tuning = SampleTuning();
  const std::vector<int32_t> results = Sweep(
      [&] {
        historian().running.repositories = {Repo("A", {Arc("a1"), Arc("a2")}),
                                            Repo("B", {Arc("b1")})};
      },
      [] { return LoadFromMarnIntoKestiHistAdmin(); });
  ASSERT_GE(results.size(), 3u);
  EXPECT_EQ(results[0], KHA_FLUSH_VIEW_FAILED);  // the tuning block
  EXPECT_EQ(results[1], KHA_FLUSH_VIEW_FAILED);  // the header
  for (std::size_t i = 2; i < results.size(); ++i) EXPECT_EQ(results[i], KHA_OK) << i;
}

TEST_F(TransferFlushFailureTest, LoadFromTheConfigurationFiles) {
  historian().files.tuning = SampleTuning();
  historian().files.repositories = {Repo("A", {Arc("a1"), Arc("a3")}), Repo("N", {Arc("n1")})};
  bool first_checked = false;
  const std::vector<int32_t> results = Sweep(
      [&] {
        historian().running.repositories = {Repo("A", {Arc("a1"), Arc("a2")})};
        ASSERT_EQ(LoadFromMarnIntoKestiHistAdmin(), KHA_OK);
        HistAdminTuning()->TuningValue2 = 0;
        historian().calls.clear();
      },
      [&] {
        const int32_t result = LoadFromConfigIntoKestiHistAdmin();
        if (!first_checked) {    // the tuning block's flush failed: it stays stored, and
          first_checked = true;  // the load ends before the repositories
          EXPECT_EQ(Tuning().TuningValue2, -3);
          EXPECT_TRUE(historian().Lines("marn_get_number_repositories").empty());
        }
        return result;
      });
  ASSERT_GE(results.size(), 2u);
  EXPECT_EQ(results[0], KHA_FLUSH_VIEW_FAILED);
  for (std::size_t i = 1; i < results.size(); ++i) EXPECT_EQ(results[i], KHA_OK) << i;
}

}  // namespace
}  // namespace kha::test
