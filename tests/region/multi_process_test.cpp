// The region shared between processes: children (this test binary run
// again in a child role) attach to the parent's region, write, lock, die
// while holding the lock, and keep the region alive.
#include "multi_process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace kha::test::multi_process;
using kha::test::Child;
using kha::test::Touch;
using kha::test::WaitForFileFrom;
using kha::test::Watchdog;

// ---------------------------------------------------------------- roles

// Checks the parent's value and answers with value + 1.
int EchoRole(const std::vector<std::string>& args) {
  if (args.size() != 1) return kUsage;
  if (AttachToKestiHistAdminSharedMemory() != KHA_OK) return kAttachFailed;
  KestiHistAdminTuningData tuning;
  if (GetKestiHistAdminTuningData(&tuning) != KHA_OK) return kAccessFailed;
  const int32_t expected = std::stoi(args[0]);
  if (tuning.TuningValue1 != expected) return kWrongValue;
  tuning.TuningValues3To11[0] = expected + 1;
  if (PutKestiHistAdminTuningData(&tuning) != KHA_OK) return kAccessFailed;
  return DetachFromKestiHistAdminSharedMemory() == KHA_OK ? kChildOk : kAccessFailed;
}
KHA_CHILD_ROLE("echo", EchoRole);

// Increments the counter `args[0]` times, each under the lock.
int IncrementRole(const std::vector<std::string>& args) {
  if (args.size() != 1) return kUsage;
  if (AttachToKestiHistAdminSharedMemory() != KHA_OK) return kAttachFailed;
  const int times = std::stoi(args[0]);
  for (int i = 0; i < times; ++i) {
    LockHistAdminMutex();
    const int32_t result = IncrementCounter();
    UnlockHistAdminMutex();
    if (result != kChildOk) return result;
  }
  return DetachFromKestiHistAdminSharedMemory() == KHA_OK ? kChildOk : kAccessFailed;
}
KHA_CHILD_ROLE("increment", IncrementRole);

// Takes the lock, says so through the file `args[0]`, and waits to be
// killed while holding it (twice: the hold is re-entrant).
int HoldLockForeverRole(const std::vector<std::string>& args) {
  if (args.size() != 1) return kUsage;
  if (AttachToKestiHistAdminSharedMemory() != KHA_OK) return kAttachFailed;
  LockHistAdminMutex();
  LockHistAdminMutex();
  IncrementCounter();
  Touch(args[0]);
  kha::test::WaitToBeKilled();
}
KHA_CHILD_ROLE("hold-lock-forever", HoldLockForeverRole);

// Attaches, says so through the file `args[0]`, and either waits to be
// killed ("die") or detaches once the file `args[1]` exists.
int AttachAndWaitRole(const std::vector<std::string>& args) {
  if (args.size() != 2) return kUsage;
  if (AttachToKestiHistAdminSharedMemory() != KHA_OK) return kAttachFailed;
  Touch(args[0]);
  if (args[1] == "die") kha::test::WaitToBeKilled();
  kha::test::WaitForFile(args[1], kha::test::kHangBound);
  return DetachFromKestiHistAdminSharedMemory() == KHA_OK ? kChildOk : kAccessFailed;
}
KHA_CHILD_ROLE("attach-and-wait", AttachAndWaitRole);

// ---------------------------------------------------------------- parent side

TEST_F(MultiProcess, ChildSeesTheParentsWritesAndWritesBack) {
  ASSERT_EQ(SetupAndAttachToKestiHistAdminSharedMemory(kSize), KHA_OK);
  KestiHistAdminTuningData tuning{};
  tuning.TuningValue1 = 1234;
  ASSERT_EQ(PutKestiHistAdminTuningData(&tuning), KHA_OK);
  Child child("echo", {"1234"});
  ASSERT_EQ(WaitBounded(child, "echo child"), kChildOk);
  ASSERT_EQ(GetKestiHistAdminTuningData(&tuning), KHA_OK);
  EXPECT_EQ(tuning.TuningValues3To11[0], 1235);
}

TEST_F(MultiProcess, LockExcludesOtherProcesses) {
  ASSERT_EQ(SetupAndAttachToKestiHistAdminSharedMemory(kSize), KHA_OK);
  constexpr int kChildren = 3;
  constexpr int kIncrements = 300;
  std::vector<std::unique_ptr<Child>> children;
  for (int c = 0; c < kChildren; ++c) {
    children.push_back(std::make_unique<Child>(
        "increment", std::vector<std::string>{std::to_string(kIncrements)}));
  }
  for (int i = 0; i < kIncrements; ++i) {
    LockHistAdminMutex();
    EXPECT_EQ(IncrementCounter(), kChildOk);
    UnlockHistAdminMutex();
  }
  for (auto& child : children) EXPECT_EQ(WaitBounded(*child, "increment child"), kChildOk);
  EXPECT_EQ(ReadCounter(), (kChildren + 1) * kIncrements);
}

TEST_F(MultiProcess, ReentrantHoldKeepsOthersOutUntilTheLastUnlock) {
  ASSERT_EQ(SetupAndAttachToKestiHistAdminSharedMemory(kSize), KHA_OK);
  LockHistAdminMutex();
  LockHistAdminMutex();
  UnlockHistAdminMutex();  // still held once
  Child child("increment", {"1"});
  // The child cannot get in while the parent holds the lock. The pause
  // only gives a wrong lock the chance to show itself.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_TRUE(child.Running());
  EXPECT_EQ(ReadCounter(), 0);
  UnlockHistAdminMutex();
  EXPECT_EQ(WaitBounded(child, "increment child after unlock"), kChildOk);
  EXPECT_EQ(ReadCounter(), 1);
}

// A process that takes the mutex again as soon as it has let it go must
// not keep a waiting one out: the waiter gets its turn while the busy one
// goes on (and the test fails if it has not after 30 s).
TEST_F(MultiProcess, ABusyProcessCannotKeepAWaiterOut) {
  ASSERT_EQ(SetupAndAttachToKestiHistAdminSharedMemory(kSize), KHA_OK);
  LockHistAdminMutex();
  Child waiter("increment", {"20"});
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // it waits now
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  int32_t counter = 0;
  int64_t turns = 0;
  while ((counter = ReadCounter()) < 20 && std::chrono::steady_clock::now() < give_up) {
    UnlockHistAdminMutex();
    LockHistAdminMutex();
    ++turns;
  }
  UnlockHistAdminMutex();
  EXPECT_EQ(counter, 20) << "after " << turns << " turns of the busy process";
  EXPECT_EQ(WaitBounded(waiter, "waiting child"), kChildOk);
}

TEST_F(MultiProcess, LockOfAKilledHolderIsTakenOverByTheNextLocker) {
  ASSERT_EQ(SetupAndAttachToKestiHistAdminSharedMemory(kSize), KHA_OK);
  Child holder("hold-lock-forever", {File("locked")});
  ASSERT_TRUE(WaitForFileFrom(File("locked"), holder));
  // A second child waits for the lock behind the holder.
  Child next("increment", {"1"});
  holder.Kill();
  EXPECT_EQ(holder.Wait(), kha::test::kKilledExitCode);
  EXPECT_EQ(WaitBounded(next, "locker after a killed holder"), kChildOk);
  {
    Watchdog watchdog("parent lock after a killed holder");
    LockHistAdminMutex();
    // The region is as the dead holder left it, plus the next locker's
    // increment.
    EXPECT_EQ(ReadCounter(), 2);
    UnlockHistAdminMutex();
  }
}

TEST_F(MultiProcess, LockOfAThreadThatEndedHoldingItIsTakenOver) {
  ASSERT_EQ(SetupAndAttachToKestiHistAdminSharedMemory(kSize), KHA_OK);
  std::thread([] {
    LockHistAdminMutex();
    LockHistAdminMutex();
    IncrementCounter();
  }).join();
  {
    Watchdog watchdog("lock after its holding thread ended");
    LockHistAdminMutex();
    EXPECT_EQ(ReadCounter(), 1);
    UnlockHistAdminMutex();
  }
  // Taken over once, it is an ordinary lock again, for other processes too.
  Child child("increment", {"5"});
  EXPECT_EQ(WaitBounded(child, "child after a takeover"), kChildOk);
  EXPECT_EQ(ReadCounter(), 6);
}

TEST_F(MultiProcess, RegionLivesWhileAnyHolderRemains) {
  ASSERT_EQ(SetupAndAttachToKestiHistAdminSharedMemory(kSize), KHA_OK);
  Child child("attach-and-wait", {File("attached"), File("release")});
  ASSERT_TRUE(WaitForFileFrom(File("attached"), child));
  ASSERT_EQ(DetachFromKestiHistAdminSharedMemory(), KHA_OK);
  // The child still holds it: attach finds it, with its contents.
  ASSERT_EQ(AttachToKestiHistAdminSharedMemory(), KHA_OK);
  uint32_t size = 0;
  EXPECT_EQ(GetKestiHistAdminHeader(&size, nullptr, nullptr, nullptr, nullptr), KHA_OK);
  EXPECT_EQ(size, kSize);
  ASSERT_EQ(DetachFromKestiHistAdminSharedMemory(), KHA_OK);
  Touch(File("release"));
  EXPECT_EQ(WaitBounded(child, "detaching child"), kChildOk);
  EXPECT_EQ(AttachToKestiHistAdminSharedMemory(), KHA_OPEN_MUTEX_FAILED);
  EXPECT_TRUE(kha::test::LiveHistAdminObjects().empty());
}

TEST_F(MultiProcess, RegionIsGoneWhenTheLastHolderDied) {
  ASSERT_EQ(SetupAndAttachToKestiHistAdminSharedMemory(kSize), KHA_OK);
  ASSERT_EQ(PutKestiHistAdminHeader(0xFFFFFFFFu, -1, 5, -1, -1), KHA_OK);
  Child child("attach-and-wait", {File("attached"), "die"});
  ASSERT_TRUE(WaitForFileFrom(File("attached"), child));
  ASSERT_EQ(DetachFromKestiHistAdminSharedMemory(), KHA_OK);
  child.Kill();
  child.Wait();
  EXPECT_EQ(AttachToKestiHistAdminSharedMemory(), KHA_OPEN_MUTEX_FAILED);
  EXPECT_EQ(DetachFromKestiHistAdminSharedMemory(), KHA_NOT_MAPPED);
  // A new set-up starts from a fresh, zeroed region, and leaves nothing
  // behind once detached.
  ASSERT_EQ(SetupAndAttachToKestiHistAdminSharedMemory(kSize), KHA_OK);
  KestiHistAdminTuningData tuning;
  ASSERT_EQ(GetKestiHistAdminTuningData(&tuning), KHA_OK);
  EXPECT_EQ(tuning.TuningValues14To40[0], 0);
  ASSERT_EQ(DetachFromKestiHistAdminSharedMemory(), KHA_OK);
  EXPECT_TRUE(kha::test::LiveHistAdminObjects().empty());
}

}  // namespace
