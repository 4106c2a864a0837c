// A process that ends while it holds the HistAdmin mutex: the next waiter
// takes the mutex over and finds the region as that process left it (the
// tables repaired where a change was left half written; see
// tests/reliability).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "kestihistadmin.h"
#include "platform/platform.h"
#include "support/child_process.h"
#include "support/region_fixture.h"

namespace {

using kha::platform::LockOutcome;
using kha::platform::OsPlatform;

constexpr uint16_t kChildReposCount = 1;

// Child: takes the mutex through the backend and ends at once, holding it
// (no release, no close, no clean-up of any kind).
int TakeMutexAndEnd(const std::vector<std::string>&) {
  const auto mutex = OsPlatform().OpenMutex(kha::platform::kHistAdminMutexName);
  if (!mutex.ok()) return 2;
  const auto locked = OsPlatform().LockMutex(mutex.value());
  std::_Exit(locked.ok() && locked.value() == LockOutcome::kTaken ? 0 : 3);
}
KHA_CHILD_ROLE("take-mutex-and-end", TakeMutexAndEnd);

// Child: attaches, locks, adds a repository and ends at once, holding
// the lock and the attachment.
int ChangeHeaderAndEndLocked(const std::vector<std::string>&) {
  if (AttachToKestiHistAdminSharedMemory() != KHA_OK) return 2;
  LockHistAdminMutex();
  uint16_t slot = 0, number = 0;
  std::_Exit(AddKestiHistAdminOneRepository("Abandoned", 1, &slot, &number) == KHA_OK ? 0 : 3);
}
KHA_CHILD_ROLE("change-header-and-end-locked", ChangeHeaderAndEndLocked);

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

class AbandonedRegionMutex : public kha::test::RegionTest {};

TEST_F(AbandonedRegionMutex, NextCallerTakesItOverAndSeesTheChange) {
  kha::test::Child child("change-header-and-end-locked");
  ASSERT_EQ(child.Wait(), 0);

  uint16_t repos = 0;
  EXPECT_EQ(GetKestiHistAdminHeader(nullptr, nullptr, &repos, nullptr, nullptr), KHA_OK);
  EXPECT_EQ(repos, kChildReposCount);
  uint16_t slot = 0, number = 0;
  EXPECT_EQ(SearchKestiHistAdminRepositoryByName("abandoned", &slot, &number), KHA_OK);
  EXPECT_EQ(number, 1u);
  // And the mutex keeps working for this process.
  LockHistAdminMutex();
  EXPECT_EQ(DeleteKestiHistAdminOneRepository(slot), KHA_OK);
  UnlockHistAdminMutex();
  EXPECT_EQ(GetKestiHistAdminHeader(nullptr, nullptr, &repos, nullptr, nullptr), KHA_OK);
  EXPECT_EQ(repos, 0u);
}

}  // namespace
