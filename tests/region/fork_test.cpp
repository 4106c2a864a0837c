// A child of fork holds nothing of its parent's: it waits for the
// parent's hold of the mutex like any other process and cannot release
// it, whatever depth the forking thread held it at.
#include <gtest/gtest.h>

#include "kestihistadmin.h"
#include "support/forked_probe.h"
#include "support/region_fixture.h"

namespace {

using kha::test::ForkedProbe;

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

}  // namespace
