// Owners of the HistAdmin mutex killed while they hold it. Survivor
// processes call every operation in a random mix the whole time; a victim
// process at a time takes the mutex and dies with it:
// - parked: it holds the mutex (one or three deep) after a few whole
//   operations, tells the parent through a file and waits to be killed
//   (SIGKILL, TerminateProcess);
// - thread exit: a thread of the victim does the same and then ends
//   without releasing the mutex, while its process lives on;
// - random: it runs the random mix and is killed at a random moment,
//   wherever its operation is; the next taker rolls it back.
// After each kill the parent takes the mutex (timed) and runs the
// invariant checker under it. CI size
// 100 kills; KHA_RELIABILITY_SIZE=full: 1,000.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "figures.h"
#include "kestihistadmin.h"
#include "random_client.h"
#include "support/child_process.h"
#include "support/region_fixture.h"
#include "support/temporary_directory.h"
#include "support/watchdog.h"
#include "tools/verify/region_verifier.h"

namespace kha::test::reliability {
namespace {

constexpr uint32_t kRegionSize = 60000;
const std::chrono::seconds kHangBound{Size("HANG_BOUND_S", 60, 60)};

// Survivor: seed stop-file result-file.
int Survivor(const std::vector<std::string>& args) {
  if (args.size() != 3) return 2;
  DieWithParent();
  if (AttachToKestiHistAdminSharedMemory() != KHA_OK) return 4;
  RandomClient client(std::stoull(args[0]), /*check_tuning=*/false, /*dump=*/false);
  // By default the survivors call without a pause, the hardest case for
  // the lock's fairness; KHA_RELIABILITY_SURVIVOR_PAUSE_US gives them one.
  const auto pause = std::chrono::microseconds(Size("SURVIVOR_PAUSE_US", 0, 0));
  for (int64_t i = 1;; ++i) {
    client.Step();
    if (pause.count() > 0) std::this_thread::sleep_for(pause);
    if (i % 500 == 0) client.Verify();
    if (i % 50 == 0 && Exists(args[1])) break;
  }
  client.Verify();
  if (DetachFromKestiHistAdminSharedMemory() != KHA_OK) return 5;
  return WriteCounts(args[2], client.Counts()) ? 0 : 6;
}
KHA_CHILD_ROLE("owner-death-survivor", Survivor);

// Holds the mutex `depth` deep after a few whole operations of the
// random mix: the next taker must find the journal closed and change
// nothing.
void ParkHolding(int depth, uint64_t seed) {
  for (int i = 0; i < depth; ++i) LockHistAdminMutex();
  RandomClient client(seed, /*check_tuning=*/false, /*dump=*/false);
  for (uint64_t i = 0; i < 1 + seed % 8; ++i) client.Step();
}

// Victim: variant depth seed signal-file.
int Victim(const std::vector<std::string>& args) {
  if (args.size() != 4) return 2;
  DieWithParent();
  const std::string variant = args[0];
  const int depth = std::stoi(args[1]);
  const uint64_t seed = std::stoull(args[2]);
  if (AttachToKestiHistAdminSharedMemory() != KHA_OK) return 4;
  if (variant == "parked") {
    ParkHolding(depth, seed);
  } else if (variant == "thread") {
    std::thread owner([&] { ParkHolding(depth, seed); });
    owner.join();  // it ended holding the mutex
  } else {
    if (!Touch(args[3])) return 6;
    RandomClient client(seed, /*check_tuning=*/false, /*dump=*/false);
    for (;;) client.Step();
  }
  if (!Touch(args[3])) return 6;
  WaitToBeKilled();
}
KHA_CHILD_ROLE("owner-death-victim", Victim);

TEST(OwnerDeath, SurvivorsCarryOnAndFindTheTablesWhole) {
  const int64_t kills = Size("KILLS", 100, 1000);
  const int64_t survivors = Size("SURVIVORS", 2, 4);
  TemporaryDirectory scratch("kha-reliability");
  ASSERT_TRUE(scratch.Made());
  ASSERT_EQ(SetupAndAttachToKestiHistAdminSharedMemory(kRegionSize), KHA_OK);
  const std::string stop = scratch.File("stop");

  std::vector<std::unique_ptr<Child>> survivor_processes;
  for (int64_t s = 0; s < survivors; ++s) {
    survivor_processes.push_back(std::make_unique<Child>(
        "owner-death-survivor",
        std::vector<std::string>{std::to_string(100 + s), stop,
                                 scratch.File("survivor" + std::to_string(s))}));
  }

  std::mt19937_64 random(42);
  int64_t parked = 0, thread_exits = 0, at_depth_three = 0, at_random = 0;
  int64_t violations = 0, hangs = 0, victims_not_killed = 0;
  double longest_wait = 0;
  std::string first_violation;
  for (int64_t k = 0; k < kills; ++k) {
    Watchdog watchdog("one kill and the next lock", kHangBound);
    const std::string signal = scratch.File("signal" + std::to_string(k));
    const char* variant = k % 2 == 1 ? "random" : k % 8 == 0 ? "thread" : "parked";
    const int depth = k % 3 == 0 ? 3 : 1;
    Child victim("owner-death-victim",
                 {variant, std::to_string(depth), std::to_string(random()), signal});
    if (!WaitForFileFrom(signal, victim)) {
      ++hangs;
      ADD_FAILURE() << "victim " << k << " (" << variant << ") never got going"
                    << (victim.Running() ? "" : ": it ended with " + std::to_string(victim.Wait()));
      break;
    }
    const std::string name = variant;
    if (name == "random") {
      ++at_random;
      std::this_thread::sleep_for(std::chrono::microseconds(random() % 20000));
    } else {
      name == "thread" ? ++thread_exits : ++parked;
      if (depth == 3) ++at_depth_three;
    }
    const auto killed = std::chrono::steady_clock::now();
    // A victim whose thread ended holding the mutex lives on: the parent
    // takes the mutex over from the dead thread first.
    if (name != "thread") victim.Kill();
    LockHistAdminMutex();
    const double waited = SecondsSince(killed);
    if (waited > longest_wait) longest_wait = waited;
    const std::vector<verify::Violation> found = verify::VerifyRegion();
    UnlockHistAdminMutex();
    violations += static_cast<int64_t>(found.size());
    if (!found.empty() && first_violation.empty()) {
      first_violation = std::string("after kill ") + std::to_string(k) + " (" + variant +
                        "): " + found.front().message;
    }
    victim.Kill();
    if (victim.Wait() != kKilledExitCode) ++victims_not_killed;
  }

  // The survivors stop at the next look at the stop file.
  ASSERT_TRUE(Touch(stop));
  int64_t carried_on = 0;
  ClientCounts survivor_counts;
  {
    Watchdog watchdog("the survivors' stop", kHangBound);
    for (int64_t s = 0; s < survivors; ++s) {
      const int exit_code = survivor_processes[static_cast<std::size_t>(s)]->Wait();
      if (exit_code == 0 &&
          ReadCounts(scratch.File("survivor" + std::to_string(s)), &survivor_counts)) {
        ++carried_on;
      } else {
        ADD_FAILURE() << "survivor " << s << " exited with " << exit_code;
      }
    }
  }

  Figure("owner_death", "kills", static_cast<double>(kills), "information");
  Figure("owner_death", "kills_parked", static_cast<double>(parked), "information");
  Figure("owner_death", "kills_thread_exit", static_cast<double>(thread_exits), "information");
  Figure("owner_death", "kills_at_depth_3", static_cast<double>(at_depth_three), "information");
  Figure("owner_death", "kills_at_random", static_cast<double>(at_random), "information");
  Figure("owner_death", "survivors_carried_on", static_cast<double>(carried_on),
         ("must be all " + std::to_string(survivors)).c_str());
  Figure("owner_death", "longest_wait_for_next_lock_s", longest_wait, "aim < 1");
  Figure("owner_death", "hangs", static_cast<double>(hangs), "must be 0");
  Figure("owner_death", "violations_after_kill", static_cast<double>(violations), "must be 0");
  Figure("owner_death", "survivor_operations", static_cast<double>(survivor_counts.operations),
         "information");
  Figure("owner_death", "survivor_violations", static_cast<double>(survivor_counts.violations),
         "must be 0");
  Figure("owner_death", "survivor_unexpected_results",
         static_cast<double>(survivor_counts.unexpected_results), "must be 0");
  Figure("owner_death", "survivor_longest_operation_s", survivor_counts.longest_operation_seconds,
         "information");

  EXPECT_EQ(carried_on, survivors);
  EXPECT_EQ(hangs, 0);
  EXPECT_EQ(victims_not_killed, 0);
  EXPECT_EQ(violations, 0) << first_violation;
  EXPECT_EQ(survivor_counts.violations, 0) << survivor_counts.first_problem;
  EXPECT_EQ(survivor_counts.unexpected_results, 0) << survivor_counts.first_problem;
  EXPECT_TRUE(verify::VerifyRegion().empty());
  DetachCompletely();
}

}  // namespace
}  // namespace kha::test::reliability
