// Lifetime churn: processes set the region up or attach to it, work a
// little, detach, and do it again, while the parent kills them at random
// and starts replacements. Every attached process pins up the objects it
// holds (board.h): two live processes holding different objects under the
// one name would be two regions where there must be one. At the end every
// name must be gone from /dev/shm. CI size 8 processes x 150 cycles (the
// sanitizer builds are slow);
// KHA_RELIABILITY_SIZE=full: 8 processes x 1,000 cycles.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "board.h"
#include "figures.h"
#include "kestihistadmin.h"
#include "random_client.h"
#include "support/child_process.h"
#include "support/live_objects.h"
#include "support/temporary_directory.h"
#include "support/watchdog.h"

namespace kha::test::reliability {
namespace {

constexpr uint32_t kRegionSize = 40000;

struct ChurnCounts {
  int64_t cycles = 0, attached = 0, splits = 0, unexpected = 0, uninitialised = 0;
};

bool WriteChurn(const std::string& path, const ChurnCounts& c) {
  const std::string temporary = path + ".new";
  {
    std::ofstream out(temporary);
    out << c.cycles << ' ' << c.attached << ' ' << c.splits << ' ' << c.unexpected << ' '
        << c.uninitialised << '\n';
    if (!out) return false;
  }
  return std::rename(temporary.c_str(), path.c_str()) == 0;
}

void ReadChurn(const std::string& path, ChurnCounts* total) {
  std::ifstream in(path);
  ChurnCounts c;
  if (!(in >> c.cycles >> c.attached >> c.splits >> c.unexpected >> c.uninitialised)) return;
  total->cycles += c.cycles;
  total->attached += c.attached;
  total->splits += c.splits;
  total->unexpected += c.unexpected;
  total->uninitialised += c.uninitialised;
}

// Child: cycles seed board-directory counts-file.
int ChurnWorker(const std::vector<std::string>& args) {
  if (args.size() != 4) return 2;
  DieWithParent();
  const int64_t cycles = std::stoll(args[0]);
  std::mt19937_64 random(std::stoull(args[1]));
  Board board(args[2]);
  RandomClient client(random(), /*check_tuning=*/false, /*dump=*/false);
  ChurnCounts counts;
  for (int64_t c = 0; c < cycles; ++c) {
    const bool set_up = random() % 3 == 0;
    const int32_t result = set_up ? SetupAndAttachToKestiHistAdminSharedMemory(kRegionSize)
                                  : AttachToKestiHistAdminSharedMemory();
    if (result == KHA_OK) {
      ++counts.attached;
      counts.splits += board.Join(ObjectsHeldByThisProcess());
      uint32_t size = 0;
      if (GetKestiHistAdminHeader(&size, nullptr, nullptr, nullptr, nullptr) != KHA_OK ||
          size != kRegionSize) {
        ++counts.uninitialised;
      }
      for (int i = 0; i < 3; ++i) client.Step();
      board.Leave();
      if (DetachFromKestiHistAdminSharedMemory() != KHA_OK) ++counts.unexpected;
    } else if (set_up || (result != KHA_OPEN_MUTEX_FAILED && result != KHA_OPEN_MAPPING_FAILED)) {
      ++counts.unexpected;
    }
    counts.cycles = c + 1;
    if (!WriteChurn(args[3], counts)) return 6;
  }
  counts.unexpected += client.Counts().unexpected_results;
  return WriteChurn(args[3], counts) ? 0 : 6;
}
KHA_CHILD_ROLE("churn-worker", ChurnWorker);

struct Worker {
  std::unique_ptr<Child> child;
  int64_t remaining = 0;
  std::string counts_file;
};

TEST(LifetimeChurn, OneRegionUnderOneNameAndNothingLeftBehind) {
  const int64_t processes = Size("CHURN_PROCESSES", 8, 8);
  const int64_t cycles = Size("CYCLES", 150, 1000);
  TemporaryDirectory scratch("kha-reliability");
  ASSERT_TRUE(scratch.Made());
  ASSERT_TRUE(LiveHistAdminObjects().empty());
  Watchdog watchdog("the churn", std::chrono::seconds(Size("TIMEOUT_S", 900, 36000)));
  std::mt19937_64 random(4242);
  const auto start = std::chrono::steady_clock::now();

  std::vector<Worker> workers(static_cast<std::size_t>(processes));
  int64_t spawned = 0, kills = 0, exits_unexpected = 0;
  ChurnCounts total;
  auto spawn = [&](Worker& w) {
    w.counts_file = scratch.File("counts" + std::to_string(spawned++));
    w.child = std::make_unique<Child>(
        "churn-worker",
        std::vector<std::string>{std::to_string(w.remaining), std::to_string(random()),
                                 scratch.Path().string(), w.counts_file});
  };
  // The cycles a worker got through before it ended, killed or not.
  auto collect = [&](Worker& w) {
    ChurnCounts mine;
    ReadChurn(w.counts_file, &mine);
    w.remaining -= mine.cycles;
    ReadChurn(w.counts_file, &total);
    w.child.reset();
  };
  for (Worker& w : workers) {
    w.remaining = cycles;
    spawn(w);
  }
  for (;;) {
    bool any = false;
    for (Worker& w : workers) {
      if (w.child == nullptr) continue;
      if (!w.child->Running()) {
        if (w.child->Wait() != 0) ++exits_unexpected;
        collect(w);
        if (w.remaining > 0) spawn(w);  // only a killed worker has cycles left
      }
      any = any || w.child != nullptr;
    }
    if (!any) break;
    std::this_thread::sleep_for(std::chrono::microseconds(500 + random() % 20000));
    Worker& victim = workers[random() % workers.size()];
    if (victim.child != nullptr && victim.child->Running() && random() % 2 == 0) {
      victim.child->Kill();
      victim.child->Wait();
      ++kills;
      collect(victim);
      if (victim.remaining > 0) spawn(victim);
    }
  }

  // Everyone has gone. A killed last holder could not remove its names:
  // they stay until the next creator or opener finds them unheld.
  const std::size_t left_when_all_gone = LiveHistAdminObjects().size();
  ASSERT_EQ(SetupAndAttachToKestiHistAdminSharedMemory(kRegionSize), KHA_OK);
  ASSERT_EQ(DetachFromKestiHistAdminSharedMemory(), KHA_OK);
  const std::vector<std::string> left = LiveHistAdminObjects();

  Figure("churn", "processes", static_cast<double>(processes), "information");
  Figure("churn", "cycles_completed", static_cast<double>(total.cycles),
         ("all " + std::to_string(processes * cycles)).c_str());
  Figure("churn", "attached_cycles", static_cast<double>(total.attached), "information");
  Figure("churn", "kills", static_cast<double>(kills), "information");
  Figure("churn", "split_regions_seen", static_cast<double>(total.splits), "must be 0");
  Figure("churn", "uninitialised_regions_seen", static_cast<double>(total.uninitialised),
         "must be 0");
  Figure("churn", "unexpected_results", static_cast<double>(total.unexpected), "must be 0");
  Figure("churn", "names_left_when_all_gone", static_cast<double>(left_when_all_gone),
         "0, or up to 2 when the last holder was killed");
  Figure("churn", "names_left_after_next_setup_and_detach", static_cast<double>(left.size()),
         "must be 0");
  Figure("churn", "seconds", SecondsSince(start), "information");
  EXPECT_EQ(total.cycles, processes * cycles);
  EXPECT_EQ(total.splits, 0);
  EXPECT_EQ(total.uninitialised, 0);
  EXPECT_EQ(total.unexpected, 0);
  EXPECT_EQ(exits_unexpected, 0);
  EXPECT_LE(left_when_all_gone, 2u);
  EXPECT_TRUE(left.empty()) << left.front();
}

}  // namespace
}  // namespace kha::test::reliability
