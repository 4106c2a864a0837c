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
  kha::platform::MutexObject* mutex = OsPlatform().OpenMutex(kha::platform::kHistAdminMutexName);
  if (mutex == nullptr) return 2;
  std::_Exit(OsPlatform().LockMutex(mutex) == LockOutcome::kTaken ? 0 : 3);
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
  kha::platform::SecurityDescriptor* sd = OsPlatform().AllocateSecurityDescriptor();
  ASSERT_NE(sd, nullptr);
  ASSERT_TRUE(OsPlatform().InitializeSecurityDescriptor(sd));
  ASSERT_TRUE(OsPlatform().SetNullDacl(sd));
  kha::platform::MutexObject* mutex =
      OsPlatform().CreateMutex(kha::platform::kHistAdminMutexName, sd);
  OsPlatform().FreeSecurityDescriptor(sd);
  ASSERT_NE(mutex, nullptr);

  kha::test::Child child("take-mutex-and-end");
  ASSERT_EQ(child.Wait(), 0);

  EXPECT_EQ(OsPlatform().LockMutex(mutex), LockOutcome::kAbandoned);
  EXPECT_TRUE(OsPlatform().UnlockMutex(mutex));
  // Taken over once, it is an ordinary mutex again.
  EXPECT_EQ(OsPlatform().LockMutex(mutex), LockOutcome::kTaken);
  EXPECT_TRUE(OsPlatform().UnlockMutex(mutex));
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
