// The random mix of every exported operation from several threads of one
// process: the part of the concurrency run that ThreadSanitizer can watch
// (it sees the threads of one process, not the other processes).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "figures.h"
#include "kestihistadmin.h"
#include "random_client.h"
#include "support/region_fixture.h"
#include "support/watchdog.h"
#include "tools/verify/region_verifier.h"

namespace kha::test::reliability {
namespace {

TEST(Threads, ThreadsOfOneProcessKeepTheTablesConsistent) {
  const int64_t threads = Size("THREADS", 4, 8);
  const int64_t operations = Size("THREAD_OPERATIONS", 5000, 50000);
  ASSERT_EQ(SetupAndAttachToKestiHistAdminSharedMemory(60000), KHA_OK);
  Watchdog watchdog("the threads run", std::chrono::seconds(Size("TIMEOUT_S", 900, 36000)));
  const auto start = std::chrono::steady_clock::now();
  std::vector<ClientCounts> counts(static_cast<std::size_t>(threads));
  std::vector<std::thread> running;
  for (int64_t t = 0; t < threads; ++t) {
    running.emplace_back([&, t] {
      RandomClient client(7000 + static_cast<uint64_t>(t), /*check_tuning=*/true, /*dump=*/false);
      for (int64_t i = 1; i <= operations; ++i) {
        client.Step();
        if (i % 1000 == 0) client.Verify();
      }
      counts[static_cast<std::size_t>(t)] = client.Counts();
    });
  }
  for (std::thread& thread : running) thread.join();
  ClientCounts total;
  for (const ClientCounts& c : counts) Add(&total, c);
  const auto final_check = verify::VerifyRegion();
  Figure("threads", "operations", static_cast<double>(total.operations), "all asked for");
  Figure("threads", "violations",
         static_cast<double>(total.violations + static_cast<int64_t>(final_check.size())),
         "must be 0");
  Figure("threads", "unexpected_results", static_cast<double>(total.unexpected_results),
         "must be 0");
  Figure("threads", "torn_tuning_reads", static_cast<double>(total.torn_tuning_reads), "must be 0");
  Figure("threads", "seconds", SecondsSince(start), "information");
  EXPECT_TRUE(ReportTables("threads")) << "no slot of a table was ever used";
  EXPECT_EQ(total.operations, threads * operations);
  EXPECT_EQ(total.violations, 0) << total.first_problem;
  EXPECT_TRUE(final_check.empty());
  EXPECT_EQ(total.unexpected_results, 0) << total.first_problem;
  EXPECT_EQ(total.torn_tuning_reads, 0);
  DetachCompletely();
}

}  // namespace
}  // namespace kha::test::reliability
