// A child of fork holds nothing of its parent's: it waits for the
// parent's hold of the mutex like any other process and cannot release
// it, whatever depth the forking thread held it at.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

#include "kestihistadmin.h"
#include "support/child_process.h"
#include "support/forked_probe.h"
#include "support/free_seats.h"
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

// A child of fork takes a seat of its own at the mutex. At the open-file
// limit it still gets one (it gives its parent's back first), so it waits
// for its parent's hold; a child that gets none (here every seat is
// taken) has no handle: its calls are refused, never run inside its
// parent's hold, until a seat is free.
TEST_F(Fork, AChildWithoutRoomForAHandleOfItsOwnNeverRunsInsideItsParentsHold) {
  LockHistAdminMutex();
  {
    rlimit limit{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &limit), 0);
    const rlimit low{64, limit.rlim_max};
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
    std::vector<int> fillers;
    for (int fd; (fd = ::dup(0)) >= 0;) fillers.push_back(fd);
    ASSERT_GE(fillers.size(), 2u);
    ::close(fillers.back());  // room for the probe's pipe
    fillers.pop_back();
    ::close(fillers.back());
    fillers.pop_back();
    ForkedProbe at_the_limit;
    for (const int fd : fillers) ::close(fd);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &limit), 0);
    ASSERT_TRUE(at_the_limit.Started());
    EXPECT_TRUE(at_the_limit.StillWaitingAfter(300));
    UnlockHistAdminMutex();
    EXPECT_TRUE(at_the_limit.Returns(10000));
    LockHistAdminMutex();
  }
  const int seats = kha::test::TakeEveryFreeSeat();
  ASSERT_GE(seats, 0);
  int go[2];
  ASSERT_EQ(::pipe(go), 0);
  ForkedProbe seatless([&] {
    ::close(go[1]);
    const bool refused =
        GetKestiHistAdminHeader(nullptr, nullptr, nullptr, nullptr, nullptr) == KHA_NOT_MAPPED;
    ::close(seats);  // its share of the seats; with the parent's gone too (go), they are free
    char byte = 0;
    if (!refused || ::read(go[0], &byte, 1) != 1) ::_exit(5);
  });
  ::close(go[0]);
  ::close(seats);
  ASSERT_EQ(::write(go[1], "g", 1), 1);
  ::close(go[1]);
  EXPECT_TRUE(seatless.StillWaitingAfter(300)) << "refused, or ran inside the parent's hold";
  UnlockHistAdminMutex();
  EXPECT_TRUE(seatless.Returns(10000));
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
