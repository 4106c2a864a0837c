// Many processes, each with several threads, call every exported
// operation in a random mix on one region. The invariant checker runs
// under the lock every thousand operations of each thread and once more
// at the end; every result code is checked against what the operation may
// return; the tuning block shows whether two puts or a put and a get ever
// overlapped. CI size 4 processes x 2 threads x 10,000 operations;
// KHA_RELIABILITY_SIZE=full: 16 x 4 x 100,000.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <memory>
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

// Small enough that adds run out of room and slots are reused often.
constexpr uint32_t kRegionSize = 60000;
constexpr int64_t kVerifyEvery = 1000;

// Runs `threads` clients of `operations` operations each in this process.
ClientCounts RunClients(int64_t threads, int64_t operations, uint64_t seed, bool dump) {
  std::vector<ClientCounts> counts(static_cast<std::size_t>(threads));
  std::vector<std::thread> running;
  for (int64_t t = 0; t < threads; ++t) {
    running.emplace_back([&, t] {
      RandomClient client(seed * 1000 + static_cast<uint64_t>(t), /*check_tuning=*/true, dump);
      for (int64_t i = 1; i <= operations; ++i) {
        client.Step();
        if (i % kVerifyEvery == 0) client.Verify();
      }
      client.Verify();
      counts[static_cast<std::size_t>(t)] = client.Counts();
    });
  }
  for (std::thread& thread : running) thread.join();
  ClientCounts total;
  for (const ClientCounts& c : counts) Add(&total, c);
  return total;
}

// Child: threads operations seed result-file.
int ConcurrencyWorker(const std::vector<std::string>& args) {
  if (args.size() != 4) return 2;
  DieWithParent();
  // The dump writes to standard output, which the parent's log shares.
  if (!DiscardStandardOutput()) return 3;
  if (AttachToKestiHistAdminSharedMemory() != KHA_OK) return 4;
  const ClientCounts counts =
      RunClients(std::stoll(args[0]), std::stoll(args[1]), std::stoull(args[2]), /*dump=*/true);
  if (DetachFromKestiHistAdminSharedMemory() != KHA_OK) return 5;
  return WriteCounts(args[3], counts) ? 0 : 6;
}
KHA_CHILD_ROLE("concurrency-worker", ConcurrencyWorker);

void ReportFigures(const char* suite, const ClientCounts& total, int64_t final_violations,
                   double seconds) {
  Figure(suite, "operations", static_cast<double>(total.operations), "all asked for");
  Figure(suite, "violations", static_cast<double>(total.violations + final_violations),
         "must be 0");
  Figure(suite, "unexpected_results", static_cast<double>(total.unexpected_results), "must be 0");
  Figure(suite, "torn_tuning_reads", static_cast<double>(total.torn_tuning_reads), "must be 0");
  Figure(suite, "longest_operation_s", total.longest_operation_seconds, "information");
  Figure(suite, "seconds", seconds, "information");
  if (!total.first_problem.empty()) std::printf("first problem: %s\n", total.first_problem.c_str());
}

TEST(Concurrency, ProcessesTimesThreadsKeepTheTablesConsistent) {
  const int64_t processes = Size("PROCESSES", 4, 16);
  const int64_t threads = Size("THREADS", 2, 4);
  const int64_t operations = Size("OPERATIONS", 10000, 100000);
  std::printf("concurrency: %lld processes x %lld threads x %lld operations\n",
              static_cast<long long>(processes), static_cast<long long>(threads),
              static_cast<long long>(operations));
  TemporaryDirectory scratch("kha-reliability");
  ASSERT_TRUE(scratch.Made());
  ASSERT_EQ(SetupAndAttachToKestiHistAdminSharedMemory(kRegionSize), KHA_OK);
  Watchdog watchdog("the concurrency run", std::chrono::seconds(Size("TIMEOUT_S", 900, 36000)));

  const auto start = std::chrono::steady_clock::now();
  std::vector<std::unique_ptr<Child>> children;
  for (int64_t p = 0; p < processes; ++p) {
    children.push_back(std::make_unique<Child>(
        "concurrency-worker",
        std::vector<std::string>{std::to_string(threads), std::to_string(operations),
                                 std::to_string(p + 1), scratch.File(std::to_string(p))}));
  }
  ClientCounts total;
  for (int64_t p = 0; p < processes; ++p) {
    EXPECT_EQ(children[static_cast<std::size_t>(p)]->Wait(), 0) << "worker " << p;
    EXPECT_TRUE(ReadCounts(scratch.File(std::to_string(p)), &total)) << "worker " << p;
  }
  const double seconds = SecondsSince(start);
  const std::vector<verify::Violation> final_check = verify::VerifyRegion();
  for (const verify::Violation& v : final_check) ADD_FAILURE() << v.message;
  ReportFigures("concurrency", total, static_cast<int64_t>(final_check.size()), seconds);
  EXPECT_TRUE(ReportTables("concurrency")) << "no slot of a table was ever used";

  EXPECT_EQ(total.operations, processes * threads * operations);
  EXPECT_EQ(total.violations, 0) << total.first_problem;
  EXPECT_EQ(total.unexpected_results, 0) << total.first_problem;
  EXPECT_EQ(total.torn_tuning_reads, 0);
  DetachCompletely();
}

}  // namespace
}  // namespace kha::test::reliability
