// The POSIX mutex's line: a thread that lets the mutex go may take it back
// at once, but not past a waiter that has waited for a while.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/platform.h"

namespace {

using kha::platform::LockOutcome;
using kha::platform::MutexObject;
using kha::platform::OsPlatform;

// Two handles of one mutex in this process behave as two processes would.
class MutexLine : public testing::Test {
 protected:
  void SetUp() override {
    const auto first = OsPlatform().CreateMutex(kha::platform::kHistAdminMutexName);
    ASSERT_TRUE(first.ok());
    first_ = first.value();
    const auto second = OsPlatform().OpenMutex(kha::platform::kHistAdminMutexName);
    ASSERT_TRUE(second.ok());
    second_ = second.value();
  }
  void TearDown() override {
    if (second_ != nullptr) OsPlatform().CloseMutex(second_);
    if (first_ != nullptr) OsPlatform().CloseMutex(first_);
  }

  MutexObject* first_ = nullptr;
  MutexObject* second_ = nullptr;
};

bool Taken(MutexObject* mutex) {
  const auto locked = OsPlatform().LockMutex(mutex);
  return locked.ok() && locked.value() == LockOutcome::kTaken;
}

// `holder` holds; a thread waits through `waiter` long past the moment
// after which it is owed the mutex; `holder` lets go and comes straight
// back: the waiter goes first.
void ExpectTheWaiterGetsTheNextTurn(MutexObject* holder, MutexObject* waiter_handle) {
  ASSERT_TRUE(Taken(holder));
  std::atomic<bool> waiter_had_it{false};
  std::thread waiter([&] {
    if (!Taken(waiter_handle)) return;
    waiter_had_it = true;
    (void)OsPlatform().UnlockMutex(waiter_handle);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(waiter_had_it);
  ASSERT_TRUE(OsPlatform().UnlockMutex(holder).ok());
  ASSERT_TRUE(Taken(holder));
  EXPECT_TRUE(waiter_had_it);
  EXPECT_TRUE(OsPlatform().UnlockMutex(holder).ok());
  waiter.join();
}

TEST_F(MutexLine, AWaiterPassedOverForAMomentGetsTheNextTurn) {
  ExpectTheWaiterGetsTheNextTurn(first_, second_);
}

// The same between two threads of one process on one handle.
TEST_F(MutexLine, AThreadPassedOverForAMomentGetsTheNextTurn) {
  ExpectTheWaiterGetsTheNextTurn(first_, first_);
}

}  // namespace
