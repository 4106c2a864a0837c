// A process that ends while it holds the HistAdmin mutex, through the OS
// backend: the next waiter takes the mutex over, and a dead holder stores
// nothing once it has (what the next caller of the region's exports sees
// is tried in tests/region/multi_process_test.cpp and tests/reliability).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "support/child_process.h"

namespace {

using kha::platform::LockOutcome;
using kha::platform::OsPlatform;

// A section of the test's own for a holder that stores without end.
// Words: 0 the holder holds the mutex, 1 the holder's count, 2 the next
// owner is about to wait.
constexpr char kCounterName[] = "Global\\KESTICORE_HISTADMIN_TEST_COUNTER";

volatile uint32_t* MapCounter() {
  const auto section = OsPlatform().OpenSection(kCounterName);
  if (!section.ok()) return nullptr;
  const auto view = OsPlatform().MapView(section.value());
  return view.ok() ? static_cast<volatile uint32_t*>(view.value().address) : nullptr;
}

// Child: takes the mutex and counts in the section until it is killed,
// as a holder in the middle of its stores would.
int CountWhileHolding(const std::vector<std::string>&) {
  kha::test::DieWithParent();
  const auto mutex = OsPlatform().OpenMutex(kha::platform::kHistAdminMutexName);
  volatile uint32_t* words = MapCounter();
  if (!mutex.ok() || words == nullptr || !OsPlatform().LockMutex(mutex.value()).ok()) return 2;
  words[0] = 1;
  for (;;) words[1] = words[1] + 1;
}
KHA_CHILD_ROLE("count-while-holding", CountWhileHolding);

// Child: waits for the mutex, takes it over and watches the count for a
// while, busy, as a taker rolling back the dead holder's work would be.
// 0 when the count stood still.
int WatchAfterTakeover(const std::vector<std::string>&) {
  kha::test::DieWithParent();
  const auto mutex = OsPlatform().OpenMutex(kha::platform::kHistAdminMutexName);
  volatile uint32_t* words = MapCounter();
  if (!mutex.ok() || words == nullptr) return 2;
  words[2] = 1;
  const auto locked = OsPlatform().LockMutex(mutex.value());
  if (!locked.ok() || locked.value() != LockOutcome::kAbandoned) return 3;
  const uint32_t seen = words[1];
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(20);
  bool still = true;
  while (still && std::chrono::steady_clock::now() < until) still = words[1] == seen;
  (void)OsPlatform().UnlockMutex(mutex.value());
  return still ? 0 : 1;
}
KHA_CHILD_ROLE("watch-after-takeover", WatchAfterTakeover);

bool WaitForWord(volatile uint32_t* words, int index) {
  for (int i = 0; i < 10000 && words[index] == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return words[index] != 0;
}

// Child: takes the mutex through the backend and ends at once, holding it
// (no release, no close, no clean-up of any kind).
int TakeMutexAndEnd(const std::vector<std::string>&) {
  const auto mutex = OsPlatform().OpenMutex(kha::platform::kHistAdminMutexName);
  if (!mutex.ok()) return 2;
  const auto locked = OsPlatform().LockMutex(mutex.value());
  std::_Exit(locked.ok() && locked.value() == LockOutcome::kTaken ? 0 : 3);
}
KHA_CHILD_ROLE("take-mutex-and-end", TakeMutexAndEnd);

TEST(AbandonedMutex, BackendReportsItAndHandsItOver) {
  const auto created = OsPlatform().CreateMutex(kha::platform::kHistAdminMutexName);
  ASSERT_TRUE(created.ok());
  kha::platform::MutexObject* mutex = created.value();

  kha::test::Child child("take-mutex-and-end");
  ASSERT_EQ(child.Wait(), 0);

  const auto abandoned = OsPlatform().LockMutex(mutex);
  ASSERT_TRUE(abandoned.ok());
  EXPECT_EQ(abandoned.value(), LockOutcome::kAbandoned);
  EXPECT_TRUE(OsPlatform().UnlockMutex(mutex).ok());
  // Taken over once, it is an ordinary mutex again.
  const auto taken = OsPlatform().LockMutex(mutex);
  ASSERT_TRUE(taken.ok());
  EXPECT_EQ(taken.value(), LockOutcome::kTaken);
  EXPECT_TRUE(OsPlatform().UnlockMutex(mutex).ok());
  OsPlatform().CloseMutex(mutex);
}

// The next owner of the mutex must be able to undo what a killed holder
// stored: the holder's stores must have ended when the mutex is handed on
// (Wine hands it on before it stops the holder's threads).
TEST(AbandonedMutex, AKilledHolderStoresNothingOnceTheNextOwnerHasTheMutex) {
  const auto mutex = OsPlatform().CreateMutex(kha::platform::kHistAdminMutexName);
  const auto section = OsPlatform().CreateSection(kCounterName, 4096);
  ASSERT_TRUE(mutex.ok() && section.ok());
  const auto view = OsPlatform().MapView(section.value());
  ASSERT_TRUE(view.ok());
  auto* words = static_cast<volatile uint32_t*>(view.value().address);
  for (int round = 0; round < 8; ++round) {
    for (int i = 0; i < 3; ++i) words[i] = 0;
    kha::test::Child holder("count-while-holding");
    ASSERT_TRUE(WaitForWord(words, 0)) << "the holder never took the mutex";
    kha::test::Child next("watch-after-takeover");
    ASSERT_TRUE(WaitForWord(words, 2));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // into its wait
    holder.Kill();
    EXPECT_EQ(next.Wait(), 0) << "round " << round << ": 1 is a store after the takeover";
    EXPECT_EQ(holder.Wait(), kha::test::kKilledExitCode);
  }
  EXPECT_TRUE(OsPlatform().UnmapView(view.value()).ok());
  OsPlatform().CloseSection(section.value());
  OsPlatform().CloseMutex(mutex.value());
}

}  // namespace
