// The random mix of every exported operation from several threads of one
// process: the part of the concurrency run that ThreadSanitizer can watch
// (it sees the threads of one process, not the other processes).
#include <gtest/gtest.h>

#include <chrono>

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
  const ClientCounts total = RunClients(threads, operations, 7, /*dump=*/false);
  ExpectCleanRun("threads", total, threads * operations, verify::VerifyRegion(),
                 SecondsSince(start));
  DetachCompletely();
}

}  // namespace
}  // namespace kha::test::reliability
