// The OS backend's kernel objects as the region's lifecycle uses them:
// names, sizes, the re-entrant mutex and what the OS says when a step
// fails. (Another process on the same objects:
// tests/region/multi_process_test.cpp.)
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace {

using kha::platform::kHistAdminMutexName;
using kha::platform::kHistAdminSectionName;
using kha::platform::LockOutcome;
using kha::platform::MutexObject;
using kha::platform::OsPlatform;
using kha::platform::SectionObject;
using kha::platform::Step;
using kha::platform::View;

constexpr uint32_t kSectionBytes = 100000;

// What the OS says of a name that names nothing, and of an unlock by a
// thread that holds nothing.
#if defined(_WIN32)
constexpr int kNoSuchObject = 2;  // ERROR_FILE_NOT_FOUND
constexpr int kNotOwner = 288;    // ERROR_NOT_OWNER
#else
constexpr int kNoSuchObject = ENOENT;
constexpr int kNotOwner = EPERM;
#endif

TEST(OsBackend, OpenFindsOnlyLiveObjectsAndSaysWhyNot) {
  const auto missing_mutex = OsPlatform().OpenMutex(kHistAdminMutexName);
  ASSERT_FALSE(missing_mutex.ok());
  EXPECT_EQ(missing_mutex.failure().step, Step::kOpenMutex);
  EXPECT_EQ(missing_mutex.failure().error, kNoSuchObject);
  const auto missing_section = OsPlatform().OpenSection(kHistAdminSectionName);
  ASSERT_FALSE(missing_section.ok());
  EXPECT_EQ(missing_section.failure().step, Step::kOpenSection);
  EXPECT_EQ(missing_section.failure().error, kNoSuchObject);

  const auto created = OsPlatform().CreateMutex(kHistAdminMutexName);
  ASSERT_TRUE(created.ok());
  const auto opened = OsPlatform().OpenMutex(kHistAdminMutexName);
  ASSERT_TRUE(opened.ok());
  OsPlatform().CloseMutex(opened.value());
  OsPlatform().CloseMutex(created.value());
  // The last handle is gone, and with it the object.
  EXPECT_FALSE(OsPlatform().OpenMutex(kHistAdminMutexName).ok());
}

TEST(OsBackend, SectionIsZeroedMapsWholeAndKeepsItsFirstSize) {
  const auto section = OsPlatform().CreateSection(kHistAdminSectionName, kSectionBytes);
  ASSERT_TRUE(section.ok());
  // Whole pages at most: the view may be rounded up, never cut short.
  const auto size = OsPlatform().SectionSize(section.value());
  ASSERT_TRUE(size.ok());
  EXPECT_GE(size.value(), kSectionBytes);
  EXPECT_LT(size.value(), kSectionBytes + 65536u);

  const auto mapped = OsPlatform().MapView(section.value());
  ASSERT_TRUE(mapped.ok());
  const View view = mapped.value();
  EXPECT_EQ(view.length, size.value());
  const auto* bytes = static_cast<const unsigned char*>(view.address);
  size_t nonzero = 0;
  for (size_t i = 0; i < view.length; ++i) nonzero += bytes[i] != 0 ? 1 : 0;
  EXPECT_EQ(nonzero, 0u);

  // A second create of a live name opens it: the size asked for is ignored.
  const auto again = OsPlatform().CreateSection(kHistAdminSectionName, 4 * kSectionBytes);
  ASSERT_TRUE(again.ok());
  const auto size_again = OsPlatform().SectionSize(again.value());
  ASSERT_TRUE(size_again.ok());
  EXPECT_EQ(size_again.value(), size.value());
  OsPlatform().CloseSection(again.value());

  EXPECT_TRUE(OsPlatform().FlushView(view).ok());
  EXPECT_TRUE(OsPlatform().UnmapView(view).ok());
  // A flush of a view that is no longer mapped is a failure, not a no-op,
  // and the OS says why.
  const auto flushed = OsPlatform().FlushView(view);
  ASSERT_FALSE(flushed.ok());
  EXPECT_EQ(flushed.failure().step, Step::kFlushView);
  EXPECT_NE(flushed.failure().error, 0);
  OsPlatform().CloseSection(section.value());
}

TEST(OsBackend, MutexIsReentrantForItsThread) {
  const auto created = OsPlatform().CreateMutex(kHistAdminMutexName);
  ASSERT_TRUE(created.ok());
  MutexObject* mutex = created.value();
  for (int hold = 0; hold < 2; ++hold) {
    const auto locked = OsPlatform().LockMutex(mutex);
    ASSERT_TRUE(locked.ok());
    EXPECT_EQ(locked.value(), LockOutcome::kTaken);
  }
  EXPECT_TRUE(OsPlatform().UnlockMutex(mutex).ok());
  EXPECT_TRUE(OsPlatform().UnlockMutex(mutex).ok());
  // Released as often as taken: one more release is refused, as the OS
  // refuses an unlock by a thread that does not own the mutex.
  const auto refused = OsPlatform().UnlockMutex(mutex);
  ASSERT_FALSE(refused.ok());
  EXPECT_EQ(refused.failure().step, Step::kUnlockMutex);
  EXPECT_EQ(refused.failure().error, kNotOwner);
  OsPlatform().CloseMutex(mutex);
}

}  // namespace
