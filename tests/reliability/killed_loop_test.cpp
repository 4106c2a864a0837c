// A process killed (SIGKILL, TerminateProcess) at a random moment while it
// loops over writing operations: adds, updates and deletes of both tables
// and tuning puts that bring the region back to where the round started.
// The parent first makes the same rounds itself and keeps every state in
// between; after each kill it takes the mutex and must find one of those
// whole states, never a mixture. Coarser than the single-stepped store
// kills, and it runs under Wine too. CI size 40 kills; full: 400.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "figures.h"
#include "support/child_process.h"
#include "support/region_fixture.h"
#include "support/temporary_directory.h"
#include "support/watchdog.h"
#include "whole_states.h"

namespace kha::test::reliability {
namespace {

// One round of writing operations on the scene with free slots; the
// region after a round is the same after every round but the first
// (which leaves its records in the slots it frees).
class Round {
 public:
  static constexpr std::size_t kSteps = 11;

  explicit Round(const Scene& scene) : scene_(scene) {}

  int32_t Step(std::size_t step) {
    const Inputs& in = TheInputs();
    uint16_t number = 0;
    switch (step) {
      case 0:
        return AddKestiHistAdminOneFileSet(scene_.gamma, &number, &file_set_);
      case 1:
        return UpdateKestiHistAdminOneFileSet(0, scene_.gamma, file_set_, &in.file_set);
      case 2:
        return PutKestiHistAdminTuningData(&in.tuning);
      case 3:
        return UpdateKestiHistAdminOneRepositoryHeader(0, scene_.alpha, &in.repository);
      case 4:
        return UpdateKestiHistAdminOneFileSet(1, scene_.alpha, scene_.alpha_second_file_set,
                                              &in.file_set);
      case 5:
        return DeleteKestiHistAdminOneFileSetForOneRepository(scene_.gamma, 1);
      case 6:
        return AddKestiHistAdminOneRepository("Delta", KHA_STATUS_NEW, &delta_, &number);
      case 7:
        return PutKestiHistAdminTuningData(&in.scene_tuning);
      case 8:
        return UpdateKestiHistAdminOneRepositoryHeader(0, scene_.alpha, &in.scene_repository);
      case 9:
        return UpdateKestiHistAdminOneFileSet(0, scene_.alpha, scene_.alpha_second_file_set,
                                              &in.scene_file_set);
      default:
        return DeleteKestiHistAdminOneRepository(delta_);
    }
  }

 private:
  Scene scene_;
  uint16_t file_set_ = 0, delta_ = 0;
};

// Ready-file scene-args...: loops the rounds until it is killed; the
// ready file appears after the first round.
int Looper(const std::vector<std::string>& args) {
  const Scene scene = Scene::FromArgs(args, 1);
  if (!scene.made) return 2;
  DieWithParent();
  if (AttachToKestiHistAdminSharedMemory() != KHA_OK) return 4;
  Round round(scene);
  for (int64_t r = 0;; ++r) {
    for (std::size_t step = 0; step < Round::kSteps; ++step) {
      if (round.Step(step) != KHA_OK) return 6;
    }
    if (r == 0 && !Touch(args[0])) return 7;
  }
}
KHA_CHILD_ROLE("looped-operations", Looper);

TEST(KilledLoop, AProcessKilledInALoopOfWritingOperationsLeavesOnlyWholeStates) {
  const int64_t kills = Size("LOOP_KILLS", 40, 400);
  TemporaryDirectory scratch("kha-killed-loop");
  ASSERT_TRUE(scratch.Made());

  // Every state of two rounds; the second ends where the first did.
  Scene scene = FreshRegion(true);
  ASSERT_TRUE(scene.made);
  std::vector<State> known{TakeState()};
  Round round(scene);
  for (int r = 0; r < 2; ++r) {
    for (std::size_t step = 0; step < Round::kSteps; ++step) {
      ASSERT_EQ(round.Step(step), KHA_OK) << "round " << r << " step " << step;
      known.push_back(TakeState());
    }
  }
  ASSERT_EQ(Differences(known.back(), known[Round::kSteps]), "") << "the rounds do not repeat";

  std::mt19937_64 random(7);
  std::vector<bool> seen(known.size(), false);
  int64_t mixed = 0, not_killed = 0;
  for (int64_t k = 0; k < kills; ++k) {
    Watchdog watchdog("one kill and the next take", std::chrono::seconds(60));
    scene = FreshRegion(true);
    ASSERT_TRUE(scene.made);
    const std::string ready = scratch.File("ready" + std::to_string(k));
    std::vector<std::string> args = scene.Args();
    args.insert(args.begin(), ready);
    Child looper("looped-operations", args);
    ASSERT_TRUE(WaitForFileFrom(ready, looper))
        << "the looper never got going"
        << (looper.Running() ? "" : ": it ended with " + std::to_string(looper.Wait()));
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 20000));
    looper.Kill();
    if (looper.Wait() != kKilledExitCode) ++not_killed;

    const State state = TakeState();
    std::size_t nearest = 0, fewest = SIZE_MAX;
    for (std::size_t i = 0; i < known.size(); ++i) {
      const std::string differences = Differences(state, known[i]);
      const std::size_t count = differences.empty()
                                    ? 0
                                    : 1 + static_cast<std::size_t>(std::count(
                                              differences.begin(), differences.end(), ','));
      if (count < fewest) fewest = count, nearest = i;
    }
    if (fewest == 0) {
      seen[nearest] = true;
    } else {
      ++mixed;
      ADD_FAILURE() << "kill " << k << " left a state that is no whole state; nearest: state "
                    << nearest << ", which differs in " << Differences(state, known[nearest]);
    }
  }
  DetachCompletely();
  const auto distinct = static_cast<double>(std::count(seen.begin(), seen.end(), true));
  Figure("killed_loop", "kills", static_cast<double>(kills), "information");
  Figure("killed_loop", "whole_states_known", static_cast<double>(known.size()), "information");
  Figure("killed_loop", "distinct_states_found", distinct,
         "more than 1: the kills land in the loop");
  Figure("killed_loop", "neither_whole_state", static_cast<double>(mixed), "must be 0");
  EXPECT_EQ(mixed, 0);
  EXPECT_EQ(not_killed, 0);
  EXPECT_GT(distinct, 1);
}

}  // namespace
}  // namespace kha::test::reliability
