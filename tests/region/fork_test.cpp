// A child of fork holds nothing of its parent's: it waits for the
// parent's hold of the mutex like any other process and cannot release
// it, whatever depth the forking thread held it at.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "kestihistadmin.h"
#include "support/child_process.h"
#include "support/forked_probe.h"
#include "support/region_fixture.h"

namespace {

using kha::test::ForkedProbe;

int AttachAndReadHeader(const std::vector<std::string>&) {
  if (AttachToKestiHistAdminSharedMemory() != KHA_OK) return 2;
  uint32_t size = 0;
  const int32_t result = GetKestiHistAdminHeader(&size, nullptr, nullptr, nullptr, nullptr);
  return result == KHA_OK && size == 1000000 ? 0 : 3;
}
KHA_CHILD_ROLE("attach-and-read-header", AttachAndReadHeader);

class Fork : public kha::test::RegionTest {};

TEST_F(Fork, ChildWaitsForTheForkingThreadsHoldAndCannotReleaseIt) {
  for (const int depth : {1, 3}) {
    for (int i = 0; i < depth; ++i) LockHistAdminMutex();
    {
      // One child probes at once; the other first lets go as often as the
      // forking thread took it.
      ForkedProbe prober;
      ForkedProbe releaser([depth] {
        for (int i = 0; i < depth; ++i) UnlockHistAdminMutex();
      });
      ASSERT_TRUE(prober.Started() && releaser.Started());
      EXPECT_TRUE(prober.StillWaitingAfter(300)) << "depth " << depth;
      EXPECT_TRUE(releaser.StillWaitingAfter(0)) << "depth " << depth;
      for (int i = 0; i < depth; ++i) UnlockHistAdminMutex();
      EXPECT_TRUE(prober.Returns(10000)) << "depth " << depth;
      EXPECT_TRUE(releaser.Returns(10000)) << "depth " << depth;
    }
  }
}

// A child's shares of the objects' lifetime are its own: when it detaches
// (or ends) the names stay while the parent is attached. The child shared
// the parent's and removed both names, and the next set-up made a second
// region under the same name.
TEST_F(Fork, ChildsDetachLeavesTheRegionToItsParent) {
  const pid_t child = ::fork();
  if (child == 0) {
    uint32_t size = 0;
    const bool used = GetKestiHistAdminHeader(&size, nullptr, nullptr, nullptr, nullptr) == KHA_OK;
    ::_exit(used && DetachFromKestiHistAdminSharedMemory() == KHA_OK ? 0 : 1);
  }
  ASSERT_GT(child, 0);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  kha::test::Child other("attach-and-read-header");
  EXPECT_EQ(other.Wait(), 0);
}

}  // namespace
