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
  ExpectCleanRun("concurrency", total, processes * threads * operations, verify::VerifyRegion(),
                 seconds);
  DetachCompletely();
}

}  // namespace
}  // namespace kha::test::reliability
