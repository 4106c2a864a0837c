// A Platform decorator for tests: passes every call to the platform it
// wraps, counts the calls, and makes chosen calls fail as the OS would
// (null handle, false, LockOutcome::kFailed) without reaching the OS.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>

#include "platform/platform.h"

namespace kha::platform {

enum class Call : std::size_t {
  kAllocateSecurityDescriptor,
  kInitializeSecurityDescriptor,
  kSetNullDacl,
  kCreateMutex,
  kOpenMutex,
  kLockMutex,
  kUnlockMutex,
  kCreateSection,
  kOpenSection,
  kSectionSize,
  kMapView,
  kFlushView,
  kUnmapView,
  kCount
};

class FaultInjectingPlatform final : public Platform {
 public:
  explicit FaultInjectingPlatform(Platform& inner) : inner_(inner) {}

  // The `nth` next call of `call` (1 = the very next one) fails, once.
  void FailNth(Call call, int nth);
  // Every call of `call` fails until Reset.
  void FailAlways(Call call);
  // The `nth` next call of any kind fails, once (for sweeps).
  void FailNthOfAny(int nth);
  void Reset();

  int Calls(Call call) const;
  int TotalCalls() const;
  // Handles and views obtained through this platform and not yet released.
  int OpenMutexes() const { return open_mutexes_.load(); }
  int OpenSections() const { return open_sections_.load(); }
  int MappedViews() const { return mapped_views_.load(); }
  int HeldDescriptors() const { return held_descriptors_.load(); }

  SecurityDescriptor* AllocateSecurityDescriptor() override;
  bool InitializeSecurityDescriptor(SecurityDescriptor* sd) override;
  bool SetNullDacl(SecurityDescriptor* sd) override;
  void FreeSecurityDescriptor(SecurityDescriptor* sd) override;
  MutexObject* CreateMutex(const char* name, SecurityDescriptor* sd) override;
  MutexObject* OpenMutex(const char* name) override;
  LockOutcome LockMutex(MutexObject* mutex) override;
  bool UnlockMutex(MutexObject* mutex) override;
  void CloseMutex(MutexObject* mutex) override;
  SectionObject* CreateSection(const char* name, uint32_t size, SecurityDescriptor* sd) override;
  SectionObject* OpenSection(const char* name) override;
  uint64_t SectionSize(SectionObject* section) override;
  void* MapView(SectionObject* section, size_t* length) override;
  bool FlushView(void* view, size_t length) override;
  bool UnmapView(void* view, size_t length) override;
  void CloseSection(SectionObject* section) override;

 private:
  // Counts the call and tells whether it must fail.
  bool ShouldFail(Call call);

  Platform& inner_;
  std::array<std::atomic<int>, static_cast<std::size_t>(Call::kCount)> calls_{};
  std::array<std::atomic<int>, static_cast<std::size_t>(Call::kCount)> fail_at_{};
  std::array<std::atomic<bool>, static_cast<std::size_t>(Call::kCount)> fail_always_{};
  std::atomic<int> any_calls_{0};
  std::atomic<int> fail_any_at_{0};
  std::atomic<int> open_mutexes_{0};
  std::atomic<int> open_sections_{0};
  std::atomic<int> mapped_views_{0};
  std::atomic<int> held_descriptors_{0};
};

}  // namespace kha::platform
