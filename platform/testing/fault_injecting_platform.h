// A Platform decorator for tests: passes every call to the platform it
// wraps, counts the calls and the handles and views it hands out, and
// makes chosen calls fail as the OS would, with a chosen step and error
// number, without reaching the OS. Part of the library's test build only.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>

#include "platform/platform.h"

namespace kha::platform {

enum class Call : std::size_t {
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

// The error number of an injected failure unless a test chooses one (EIO
// on POSIX, ERROR_ACCESS_DENIED on Windows: a number the OS does give).
inline constexpr int kInjectedError = 5;

// The step of `call` itself (kCreateMutex for Call::kCreateMutex, ...).
Step StepOf(Call call);

class FaultInjectingPlatform final : public Platform {
 public:
  explicit FaultInjectingPlatform(Platform& inner) : inner_(inner) {}

  // The `nth` next call of `call` (1 = the very next one) fails, once:
  // at the call's own step with kInjectedError, or with `failure` (a
  // create may fail at a descriptor step, say).
  void FailNth(Call call, int nth);
  void FailNth(Call call, int nth, OsFailure failure);
  // Every call of `call` fails until Reset.
  void FailAlways(Call call);
  // The `nth` next call of any kind fails, once (for sweeps).
  void FailNthOfAny(int nth);
  // The same, but the call throws std::bad_alloc, as an allocation inside
  // the backend (an object's name, say) would.
  void ThrowNthOfAny(int nth);
  void Reset();

  int Calls(Call call) const;
  int TotalCalls() const;
  // Handles and views obtained through this platform and not yet released.
  int OpenMutexes() const { return open_mutexes_.load(); }
  int OpenSections() const { return open_sections_.load(); }
  int MappedViews() const { return mapped_views_.load(); }

  OsResult<MutexObject*> CreateMutex(const char* name) override;
  OsResult<MutexObject*> OpenMutex(const char* name) override;
  OsResult<LockOutcome> LockMutex(MutexObject* mutex) override;
  OsResult<void> UnlockMutex(MutexObject* mutex) override;
  void CloseMutex(MutexObject* mutex) override;
  OsResult<SectionObject*> CreateSection(const char* name, uint32_t size) override;
  OsResult<SectionObject*> OpenSection(const char* name) override;
  OsResult<uint64_t> SectionSize(SectionObject* section) override;
  OsResult<View> MapView(SectionObject* section) override;
  OsResult<void> FlushView(View view) override;
  OsResult<void> UnmapView(View view) override;
  void CloseSection(SectionObject* section) override;

 private:
  static constexpr std::size_t kCalls = static_cast<std::size_t>(Call::kCount);

  // Counts the call; true (and `*failure` set) when it must fail.
  bool ShouldFail(Call call, OsFailure* failure);

  Platform& inner_;
  std::array<std::atomic<int>, kCalls> calls_{};
  std::array<std::atomic<int>, kCalls> fail_at_{};
  std::array<std::atomic<bool>, kCalls> fail_always_{};
  // What the call fails with; written by the test before the call.
  std::array<OsFailure, kCalls> failure_{};
  std::atomic<int> any_calls_{0};
  std::atomic<int> fail_any_at_{0};
  std::atomic<bool> throw_any_{false};
  std::atomic<int> open_mutexes_{0};
  std::atomic<int> open_sections_{0};
  std::atomic<int> mapped_views_{0};
};

}  // namespace kha::platform
