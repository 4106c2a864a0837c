#include "platform/testing/fault_injecting_platform.h"

#include <new>

namespace kha::platform {
namespace {
std::size_t At(Call call) { return static_cast<std::size_t>(call); }
}  // namespace

Step StepOf(Call call) {
  switch (call) {
    case Call::kCreateMutex:
      return Step::kCreateMutex;
    case Call::kOpenMutex:
      return Step::kOpenMutex;
    case Call::kLockMutex:
      return Step::kLockMutex;
    case Call::kUnlockMutex:
      return Step::kUnlockMutex;
    case Call::kCreateSection:
      return Step::kCreateSection;
    case Call::kOpenSection:
      return Step::kOpenSection;
    case Call::kSectionSize:
      return Step::kSectionSize;
    case Call::kMapView:
      return Step::kMapView;
    case Call::kFlushView:
      return Step::kFlushView;
    case Call::kUnmapView:
    case Call::kCount:
      break;
  }
  return Step::kUnmapView;
}

void FaultInjectingPlatform::FailNth(Call call, int nth) {
  FailNth(call, nth, {StepOf(call), kInjectedError});
}

void FaultInjectingPlatform::FailNth(Call call, int nth, OsFailure failure) {
  failure_[At(call)] = failure;
  fail_at_[At(call)] = calls_[At(call)].load() + nth;
}

void FaultInjectingPlatform::FailAlways(Call call) {
  failure_[At(call)] = {StepOf(call), kInjectedError};
  fail_always_[At(call)] = true;
}

void FaultInjectingPlatform::FailNthOfAny(int nth) {
  for (std::size_t at = 0; at < kCalls; ++at) {
    failure_[at] = {StepOf(static_cast<Call>(at)), kInjectedError};
  }
  throw_any_ = false;
  fail_any_at_ = any_calls_.load() + nth;
}

void FaultInjectingPlatform::ThrowNthOfAny(int nth) {
  throw_any_ = true;
  fail_any_at_ = any_calls_.load() + nth;
}

void FaultInjectingPlatform::Reset() {
  for (auto& at : fail_at_) at = 0;
  for (auto& always : fail_always_) always = false;
  fail_any_at_ = 0;
  throw_any_ = false;
}

int FaultInjectingPlatform::Calls(Call call) const { return calls_[At(call)].load(); }

int FaultInjectingPlatform::TotalCalls() const { return any_calls_.load(); }

bool FaultInjectingPlatform::ShouldFail(Call call, OsFailure* failure) {
  const int nth = ++calls_[At(call)];
  const int any = ++any_calls_;
  if (!fail_always_[At(call)] && fail_at_[At(call)] != nth && fail_any_at_ != any) return false;
  if (fail_any_at_ == any && throw_any_) throw std::bad_alloc();
  *failure = failure_[At(call)];
  return true;
}

OsResult<MutexObject*> FaultInjectingPlatform::CreateMutex(const char* name) {
  OsFailure failure{};
  if (ShouldFail(Call::kCreateMutex, &failure)) return failure;
  OsResult<MutexObject*> mutex = inner_.CreateMutex(name);
  if (mutex.ok()) ++open_mutexes_;
  return mutex;
}

OsResult<MutexObject*> FaultInjectingPlatform::OpenMutex(const char* name) {
  OsFailure failure{};
  if (ShouldFail(Call::kOpenMutex, &failure)) return failure;
  OsResult<MutexObject*> mutex = inner_.OpenMutex(name);
  if (mutex.ok()) ++open_mutexes_;
  return mutex;
}

OsResult<LockOutcome> FaultInjectingPlatform::LockMutex(MutexObject* mutex) {
  OsFailure failure{};
  if (ShouldFail(Call::kLockMutex, &failure)) return failure;
  return inner_.LockMutex(mutex);
}

OsResult<void> FaultInjectingPlatform::UnlockMutex(MutexObject* mutex) {
  OsFailure failure{};
  if (ShouldFail(Call::kUnlockMutex, &failure)) return failure;
  return inner_.UnlockMutex(mutex);
}

void FaultInjectingPlatform::CloseMutex(MutexObject* mutex) {
  if (mutex != nullptr) --open_mutexes_;
  inner_.CloseMutex(mutex);
}

OsResult<SectionObject*> FaultInjectingPlatform::CreateSection(const char* name, uint32_t size) {
  OsFailure failure{};
  if (ShouldFail(Call::kCreateSection, &failure)) return failure;
  OsResult<SectionObject*> section = inner_.CreateSection(name, size);
  if (section.ok()) ++open_sections_;
  return section;
}

OsResult<SectionObject*> FaultInjectingPlatform::OpenSection(const char* name) {
  OsFailure failure{};
  if (ShouldFail(Call::kOpenSection, &failure)) return failure;
  OsResult<SectionObject*> section = inner_.OpenSection(name);
  if (section.ok()) ++open_sections_;
  return section;
}

OsResult<uint64_t> FaultInjectingPlatform::SectionSize(SectionObject* section) {
  OsFailure failure{};
  if (ShouldFail(Call::kSectionSize, &failure)) return failure;
  return inner_.SectionSize(section);
}

OsResult<View> FaultInjectingPlatform::MapView(SectionObject* section) {
  OsFailure failure{};
  if (ShouldFail(Call::kMapView, &failure)) return failure;
  OsResult<View> view = inner_.MapView(section);
  if (view.ok()) ++mapped_views_;
  return view;
}

OsResult<void> FaultInjectingPlatform::FlushView(View view) {
  OsFailure failure{};
  if (ShouldFail(Call::kFlushView, &failure)) return failure;
  return inner_.FlushView(view);
}

OsResult<void> FaultInjectingPlatform::UnmapView(View view) {
  OsFailure failure{};
  if (ShouldFail(Call::kUnmapView, &failure)) return failure;
  OsResult<void> unmapped = inner_.UnmapView(view);
  if (unmapped.ok()) --mapped_views_;
  return unmapped;
}

void FaultInjectingPlatform::CloseSection(SectionObject* section) {
  if (section != nullptr) --open_sections_;
  inner_.CloseSection(section);
}

}  // namespace kha::platform
