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
    kha::platform::SecurityDescriptor* sd = OsPlatform().AllocateSecurityDescriptor();
    ASSERT_NE(sd, nullptr);
    ASSERT_TRUE(OsPlatform().InitializeSecurityDescriptor(sd));
    ASSERT_TRUE(OsPlatform().SetNullDacl(sd));
    first_ = OsPlatform().CreateMutex(kha::platform::kHistAdminMutexName, sd);
    OsPlatform().FreeSecurityDescriptor(sd);
    ASSERT_NE(first_, nullptr);
    second_ = OsPlatform().OpenMutex(kha::platform::kHistAdminMutexName);
    ASSERT_NE(second_, nullptr);
  }
  void TearDown() override {
    if (second_ != nullptr) OsPlatform().CloseMutex(second_);
    if (first_ != nullptr) OsPlatform().CloseMutex(first_);
  }

  MutexObject* first_ = nullptr;
  MutexObject* second_ = nullptr;
};

TEST_F(MutexLine, AWaiterPassedOverForAMomentGetsTheNextTurn) {
  ASSERT_EQ(OsPlatform().LockMutex(first_), LockOutcome::kTaken);
  std::atomic<bool> waiter_had_it{false};
  std::thread waiter([&] {
    if (OsPlatform().LockMutex(second_) != LockOutcome::kTaken) return;
    waiter_had_it = true;
    OsPlatform().UnlockMutex(second_);
  });
  // Long past the moment after which the waiter is owed the mutex.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(waiter_had_it);

  // Let go and come straight back: the waiter goes first.
  ASSERT_TRUE(OsPlatform().UnlockMutex(first_));
  ASSERT_EQ(OsPlatform().LockMutex(first_), LockOutcome::kTaken);
  EXPECT_TRUE(waiter_had_it);
  EXPECT_TRUE(OsPlatform().UnlockMutex(first_));
  waiter.join();
}

// The same between two threads of one process on one handle.
TEST_F(MutexLine, AThreadPassedOverForAMomentGetsTheNextTurn) {
  ASSERT_EQ(OsPlatform().LockMutex(first_), LockOutcome::kTaken);
  std::atomic<bool> waiter_had_it{false};
  std::thread waiter([&] {
    if (OsPlatform().LockMutex(first_) != LockOutcome::kTaken) return;
    waiter_had_it = true;
    OsPlatform().UnlockMutex(first_);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(waiter_had_it);
  ASSERT_TRUE(OsPlatform().UnlockMutex(first_));
  ASSERT_EQ(OsPlatform().LockMutex(first_), LockOutcome::kTaken);
  EXPECT_TRUE(waiter_had_it);
  EXPECT_TRUE(OsPlatform().UnlockMutex(first_));
  waiter.join();
}

}  // namespace
