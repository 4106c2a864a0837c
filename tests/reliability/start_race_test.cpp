// Start races: sixteen processes set the region up or attach to it at the
// same moment while no region exists, and a creator kills itself at a
// random moment of its set-up. Every process must end attached to the one
// region, initialised, or with a clean result code; none may hold a mutex
// that was never initialised. Each round uses names of its own. CI size
// 10 rounds; KHA_RELIABILITY_SIZE=full: 100.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "board.h"
#include "figures.h"
#include "kestihistadmin.h"
#include "platform/posix/posix_objects.h"
#include "platform/testing/name_prefix.h"
#include "region/process_state.h"
#include "support/child_process.h"
#include "support/live_objects.h"
#include "support/temporary_directory.h"
#include "support/watchdog.h"

namespace kha::test::reliability {
namespace {

constexpr uint32_t kRegionSize = 50000;
constexpr int kProcesses = 16;

// Exit codes of a racer.
constexpr int kAttachedToTheRegion = 0;
constexpr int kCleanRefusal = 10;
constexpr int kUninitialisedRegion = 20;
constexpr int kUninitialisedMutex = 21;
constexpr int kSplit = 30;
constexpr int kNoGo = 40;
constexpr int kUnexpectedResult = 50;

// The handle is mapped and has its seat, the mutex's token of its life.
bool MutexInitialised() {
  const platform::MutexObject* mutex = HistAdminProcess().mutex.load();
  return mutex != nullptr && mutex->block != nullptr && mutex->self.load() != 0;
}

// Child: setup|attach self-kill-microseconds(-1: none) board-directory go-file.
int Racer(const std::vector<std::string>& args) {
  if (args.size() != 4) return 2;
  DieWithParent();
  const bool set_up = args[0] == "setup";
  const long self_kill = std::stol(args[1]);
  if (self_kill >= 0) {
    std::thread([self_kill] {
      std::this_thread::sleep_for(std::chrono::microseconds(self_kill));
      ::raise(SIGKILL);
    }).detach();
  }
  const int32_t result = set_up ? SetupAndAttachToKestiHistAdminSharedMemory(kRegionSize)
                                : AttachToKestiHistAdminSharedMemory();
  if (result != KHA_OK) {
    if (!set_up && (result == KHA_OPEN_MUTEX_FAILED || result == KHA_OPEN_MAPPING_FAILED)) {
      return kCleanRefusal;
    }
    std::fprintf(stderr, "racer (%s): result %d\n", args[0].c_str(), result);
    return kUnexpectedResult;
  }
  if (!MutexInitialised()) return kUninitialisedMutex;
  uint32_t size = 0;
  if (GetKestiHistAdminHeader(&size, nullptr, nullptr, nullptr, nullptr) != KHA_OK ||
      size != kRegionSize) {
    return kUninitialisedRegion;
  }
  Board board(args[2]);
  (void)board.Join(ObjectsHeldByThisProcess());
  // Compare again once every racer has had its go.
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!Exists(args[3])) {
    if (std::chrono::steady_clock::now() > until) return kNoGo;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  const int splits = board.Join(ObjectsHeldByThisProcess());
  board.Leave();
  if (DetachFromKestiHistAdminSharedMemory() != KHA_OK) return kUnexpectedResult;
  return splits == 0 ? kAttachedToTheRegion : kSplit;
}
KHA_CHILD_ROLE("start-racer", Racer);

// Sets the name prefix for one round and puts the test's own back after.
class RoundNames {
 public:
  explicit RoundNames(int64_t round) : saved_(std::getenv(platform::kNamePrefixVariable)) {
    ::setenv(platform::kNamePrefixVariable, (saved_ + "r" + std::to_string(round) + "_").c_str(),
             1);
  }
  ~RoundNames() { ::setenv(platform::kNamePrefixVariable, saved_.c_str(), 1); }
  RoundNames(const RoundNames&) = delete;
  RoundNames& operator=(const RoundNames&) = delete;

 private:
  std::string saved_;
};

TEST(StartRace, EveryRacerEndsInTheOneInitialisedRegionOrWithACleanCode) {
  const int64_t rounds = Size("ROUNDS", 10, 100);
  std::mt19937_64 random(1717);
  int64_t attached = 0, refused = 0, killed = 0, creators_killed = 0;
  int64_t uninitialised_region = 0, uninitialised_mutex = 0, splits = 0, unexpected = 0;
  int64_t hangs = 0, names_left = 0;
  // What each exit code of a racer counts as (a killed creator aside).
  const std::map<int, int64_t*> tally = {{kAttachedToTheRegion, &attached},
                                         {kCleanRefusal, &refused},
                                         {kUninitialisedRegion, &uninitialised_region},
                                         {kUninitialisedMutex, &uninitialised_mutex},
                                         {kSplit, &splits},
                                         {kNoGo, &hangs}};
  const auto start = std::chrono::steady_clock::now();
  for (int64_t round = 0; round < rounds; ++round) {
    Watchdog watchdog("one start race", std::chrono::seconds(30));
    TemporaryDirectory scratch("kha-reliability");
    ASSERT_TRUE(scratch.Made());
    RoundNames names(round);
    const std::string go = scratch.File("go");
    std::vector<std::unique_ptr<Child>> racers;
    std::vector<bool> self_killing;
    const int killers = 1 + static_cast<int>(random() % 2);
    for (int p = 0; p < kProcesses; ++p) {
      const bool set_up = p % 2 == 0;
      const bool kill = set_up && p / 2 < killers;
      // Set-up takes a few hundred microseconds from the start of the role.
      const long delay = kill ? static_cast<long>(random() % 500) : -1;
      self_killing.push_back(kill);
      racers.push_back(std::make_unique<Child>(
          "start-racer",
          std::vector<std::string>{set_up ? "setup" : "attach", std::to_string(delay),
                                   scratch.Path().string(), go}));
    }
    // Go once every racer has pinned up its objects or ended.
    Board board(scratch.Path().string());
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;) {
      int ended = 0;
      for (auto& racer : racers) ended += racer->Running() ? 0 : 1;
      if (ended + board.LiveCards() >= kProcesses) break;
      if (std::chrono::steady_clock::now() > until) {
        ++hangs;
        break;
      }
      std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    ASSERT_TRUE(Touch(go));
    for (std::size_t p = 0; p < racers.size(); ++p) {
      const int code = racers[p]->Wait();
      if (const auto counter = tally.find(code); counter != tally.end()) {
        ++*counter->second;
      } else if (code == 128 + SIGKILL && self_killing[p]) {
        ++killed;
        ++creators_killed;
      } else {
        ++unexpected;
        ADD_FAILURE() << "round " << round << " racer " << p << " exited with " << code;
      }
    }
    // Everyone of this round has gone: the next set-up and detach clears
    // what a killed last holder left.
    EXPECT_EQ(SetupAndAttachToKestiHistAdminSharedMemory(kRegionSize), KHA_OK);
    EXPECT_EQ(DetachFromKestiHistAdminSharedMemory(), KHA_OK);
    names_left += static_cast<int64_t>(LiveHistAdminObjects().size());
  }
  Figure("start_race", "rounds", static_cast<double>(rounds), "information");
  Figure("start_race", "processes", static_cast<double>(rounds * kProcesses), "information");
  Figure("start_race", "attached_to_the_one_region", static_cast<double>(attached), "information");
  Figure("start_race", "clean_refusals", static_cast<double>(refused), "information");
  Figure("start_race", "creators_killed", static_cast<double>(creators_killed), "information");
  Figure("start_race", "uninitialised_regions", static_cast<double>(uninitialised_region),
         "must be 0");
  Figure("start_race", "uninitialised_mutexes", static_cast<double>(uninitialised_mutex),
         "must be 0");
  Figure("start_race", "split_regions", static_cast<double>(splits), "must be 0");
  Figure("start_race", "unexpected_results", static_cast<double>(unexpected), "must be 0");
  Figure("start_race", "hangs", static_cast<double>(hangs), "must be 0");
  Figure("start_race", "names_left", static_cast<double>(names_left), "must be 0");
  Figure("start_race", "seconds", SecondsSince(start), "information");
  EXPECT_EQ(attached + refused + killed, rounds * kProcesses);
  EXPECT_EQ(uninitialised_region + uninitialised_mutex + splits + unexpected + hangs, 0);
  EXPECT_EQ(names_left, 0);
}

}  // namespace
}  // namespace kha::test::reliability
