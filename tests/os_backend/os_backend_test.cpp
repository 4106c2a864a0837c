// The OS backend's kernel objects as the region's lifecycle uses them:
// names, sizes and sharing between processes.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "support/child_process.h"

namespace {

using kha::platform::kHistAdminMutexName;
using kha::platform::kHistAdminSectionName;
using kha::platform::LockOutcome;
using kha::platform::MutexObject;
using kha::platform::OsPlatform;
using kha::platform::SectionObject;
using kha::platform::SecurityDescriptor;

constexpr uint32_t kSectionBytes = 100000;
constexpr char kChildMark[] = "written by the child";

// A descriptor prepared as the core prepares one for a creation.
class OpenAccessDescriptor {
 public:
  OpenAccessDescriptor() : sd_(OsPlatform().AllocateSecurityDescriptor()) {
    ok_ = sd_ != nullptr && OsPlatform().InitializeSecurityDescriptor(sd_) &&
          OsPlatform().SetNullDacl(sd_);
  }
  ~OpenAccessDescriptor() {
    if (sd_ != nullptr) OsPlatform().FreeSecurityDescriptor(sd_);
  }
  OpenAccessDescriptor(const OpenAccessDescriptor&) = delete;
  OpenAccessDescriptor& operator=(const OpenAccessDescriptor&) = delete;

  bool ok() const { return ok_; }
  SecurityDescriptor* get() const { return sd_; }

 private:
  SecurityDescriptor* sd_;
  bool ok_ = false;
};

// Child: opens the section by name, checks what the parent wrote at the
// start and writes its mark behind it.
int WriteChildMark(const std::vector<std::string>&) {
  SectionObject* section = OsPlatform().OpenSection(kHistAdminSectionName);
  if (section == nullptr) return 2;
  size_t length = 0;
  void* view = OsPlatform().MapView(section, &length);
  if (view == nullptr || length < kSectionBytes) return 3;
  auto* bytes = static_cast<unsigned char*>(view);
  const bool saw_parent = bytes[0] == 0x5A && bytes[kSectionBytes - 1] == 0xA5;
  std::memcpy(bytes + 16, kChildMark, sizeof kChildMark);
  OsPlatform().FlushView(view, length);
  OsPlatform().UnmapView(view, length);
  OsPlatform().CloseSection(section);
  return saw_parent ? 0 : 4;
}
KHA_CHILD_ROLE("write-child-mark", WriteChildMark);

TEST(OsBackend, DescriptorStepsSucceed) {
  OpenAccessDescriptor sd;
  EXPECT_TRUE(sd.ok());
}

TEST(OsBackend, OpenFindsOnlyLiveObjects) {
  EXPECT_EQ(OsPlatform().OpenMutex(kHistAdminMutexName), nullptr);
  EXPECT_EQ(OsPlatform().OpenSection(kHistAdminSectionName), nullptr);

  OpenAccessDescriptor sd;
  ASSERT_TRUE(sd.ok());
  MutexObject* created = OsPlatform().CreateMutex(kHistAdminMutexName, sd.get());
  ASSERT_NE(created, nullptr);
  MutexObject* opened = OsPlatform().OpenMutex(kHistAdminMutexName);
  ASSERT_NE(opened, nullptr);
  OsPlatform().CloseMutex(opened);
  OsPlatform().CloseMutex(created);
  // The last handle is gone, and with it the object.
  EXPECT_EQ(OsPlatform().OpenMutex(kHistAdminMutexName), nullptr);
}

TEST(OsBackend, SectionIsZeroedMapsWholeAndKeepsItsFirstSize) {
  OpenAccessDescriptor sd;
  ASSERT_TRUE(sd.ok());
  SectionObject* section =
      OsPlatform().CreateSection(kHistAdminSectionName, kSectionBytes, sd.get());
  ASSERT_NE(section, nullptr);
  // Whole pages at most: the view may be rounded up, never cut short.
  const uint64_t size = OsPlatform().SectionSize(section);
  EXPECT_GE(size, kSectionBytes);
  EXPECT_LT(size, kSectionBytes + 65536u);

  size_t length = 0;
  void* view = OsPlatform().MapView(section, &length);
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(length, size);
  const auto* bytes = static_cast<const unsigned char*>(view);
  size_t nonzero = 0;
  for (size_t i = 0; i < length; ++i) nonzero += bytes[i] != 0 ? 1 : 0;
  EXPECT_EQ(nonzero, 0u);

  // A second create of a live name opens it: the size asked for is ignored.
  SectionObject* again =
      OsPlatform().CreateSection(kHistAdminSectionName, 4 * kSectionBytes, sd.get());
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(OsPlatform().SectionSize(again), size);
  OsPlatform().CloseSection(again);

  EXPECT_TRUE(OsPlatform().FlushView(view, length));
  EXPECT_TRUE(OsPlatform().UnmapView(view, length));
  // A flush of a view that is no longer mapped is a failure, not a no-op.
  EXPECT_FALSE(OsPlatform().FlushView(view, length));
  OsPlatform().CloseSection(section);
}

TEST(OsBackend, AnotherProcessSharesTheSectionBytes) {
  OpenAccessDescriptor sd;
  ASSERT_TRUE(sd.ok());
  SectionObject* section =
      OsPlatform().CreateSection(kHistAdminSectionName, kSectionBytes, sd.get());
  ASSERT_NE(section, nullptr);
  size_t length = 0;
  auto* bytes = static_cast<unsigned char*>(OsPlatform().MapView(section, &length));
  ASSERT_NE(bytes, nullptr);
  bytes[0] = 0x5A;
  bytes[kSectionBytes - 1] = 0xA5;

  kha::test::Child child("write-child-mark");
  EXPECT_EQ(child.Wait(), 0);
  EXPECT_STREQ(reinterpret_cast<const char*>(bytes + 16), kChildMark);

  OsPlatform().UnmapView(bytes, length);
  OsPlatform().CloseSection(section);
}

TEST(OsBackend, MutexIsReentrantForItsThread) {
  OpenAccessDescriptor sd;
  ASSERT_TRUE(sd.ok());
  MutexObject* mutex = OsPlatform().CreateMutex(kHistAdminMutexName, sd.get());
  ASSERT_NE(mutex, nullptr);
  EXPECT_EQ(OsPlatform().LockMutex(mutex), LockOutcome::kTaken);
  EXPECT_EQ(OsPlatform().LockMutex(mutex), LockOutcome::kTaken);
  EXPECT_TRUE(OsPlatform().UnlockMutex(mutex));
  EXPECT_TRUE(OsPlatform().UnlockMutex(mutex));
  // Released as often as taken: one more release is refused.
  EXPECT_FALSE(OsPlatform().UnlockMutex(mutex));
  OsPlatform().CloseMutex(mutex);
}

}  // namespace
