#include "platform/fault_injection.h"

namespace kha::platform {
namespace {
std::size_t At(Call call) { return static_cast<std::size_t>(call); }
}  // namespace

void FaultInjectingPlatform::FailNth(Call call, int nth) {
  fail_at_[At(call)] = calls_[At(call)].load() + nth;
}

void FaultInjectingPlatform::FailAlways(Call call) { fail_always_[At(call)] = true; }

void FaultInjectingPlatform::FailNthOfAny(int nth) { fail_any_at_ = any_calls_.load() + nth; }

void FaultInjectingPlatform::Reset() {
  for (auto& at : fail_at_) at = 0;
  for (auto& always : fail_always_) always = false;
  fail_any_at_ = 0;
}

int FaultInjectingPlatform::Calls(Call call) const { return calls_[At(call)].load(); }

int FaultInjectingPlatform::TotalCalls() const { return any_calls_.load(); }

bool FaultInjectingPlatform::ShouldFail(Call call) {
  const int nth = ++calls_[At(call)];
  const int any = ++any_calls_;
  return fail_always_[At(call)] || fail_at_[At(call)] == nth || fail_any_at_ == any;
}

SecurityDescriptor* FaultInjectingPlatform::AllocateSecurityDescriptor() {
  if (ShouldFail(Call::kAllocateSecurityDescriptor)) return nullptr;
  SecurityDescriptor* sd = inner_.AllocateSecurityDescriptor();
  if (sd != nullptr) ++held_descriptors_;
  return sd;
}

bool FaultInjectingPlatform::InitializeSecurityDescriptor(SecurityDescriptor* sd) {
  if (ShouldFail(Call::kInitializeSecurityDescriptor)) return false;
  return inner_.InitializeSecurityDescriptor(sd);
}

bool FaultInjectingPlatform::SetNullDacl(SecurityDescriptor* sd) {
  if (ShouldFail(Call::kSetNullDacl)) return false;
  return inner_.SetNullDacl(sd);
}

void FaultInjectingPlatform::FreeSecurityDescriptor(SecurityDescriptor* sd) {
  if (sd != nullptr) --held_descriptors_;
  inner_.FreeSecurityDescriptor(sd);
}

MutexObject* FaultInjectingPlatform::CreateMutex(const char* name, SecurityDescriptor* sd) {
  if (ShouldFail(Call::kCreateMutex)) return nullptr;
  MutexObject* mutex = inner_.CreateMutex(name, sd);
  if (mutex != nullptr) ++open_mutexes_;
  return mutex;
}

MutexObject* FaultInjectingPlatform::OpenMutex(const char* name) {
  if (ShouldFail(Call::kOpenMutex)) return nullptr;
  MutexObject* mutex = inner_.OpenMutex(name);
  if (mutex != nullptr) ++open_mutexes_;
  return mutex;
}

LockOutcome FaultInjectingPlatform::LockMutex(MutexObject* mutex) {
  if (ShouldFail(Call::kLockMutex)) return LockOutcome::kFailed;
  return inner_.LockMutex(mutex);
}

bool FaultInjectingPlatform::UnlockMutex(MutexObject* mutex) {
  if (ShouldFail(Call::kUnlockMutex)) return false;
  return inner_.UnlockMutex(mutex);
}

void FaultInjectingPlatform::CloseMutex(MutexObject* mutex) {
  if (mutex != nullptr) --open_mutexes_;
  inner_.CloseMutex(mutex);
}

SectionObject* FaultInjectingPlatform::CreateSection(const char* name, uint32_t size,
                                                     SecurityDescriptor* sd) {
  if (ShouldFail(Call::kCreateSection)) return nullptr;
  SectionObject* section = inner_.CreateSection(name, size, sd);
  if (section != nullptr) ++open_sections_;
  return section;
}

SectionObject* FaultInjectingPlatform::OpenSection(const char* name) {
  if (ShouldFail(Call::kOpenSection)) return nullptr;
  SectionObject* section = inner_.OpenSection(name);
  if (section != nullptr) ++open_sections_;
  return section;
}

uint64_t FaultInjectingPlatform::SectionSize(SectionObject* section) {
  if (ShouldFail(Call::kSectionSize)) return 0;
  return inner_.SectionSize(section);
}

void* FaultInjectingPlatform::MapView(SectionObject* section, size_t* length) {
  if (ShouldFail(Call::kMapView)) return nullptr;
  void* view = inner_.MapView(section, length);
  if (view != nullptr) ++mapped_views_;
  return view;
}

bool FaultInjectingPlatform::FlushView(void* view, size_t length) {
  if (ShouldFail(Call::kFlushView)) return false;
  return inner_.FlushView(view, length);
}

bool FaultInjectingPlatform::UnmapView(void* view, size_t length) {
  if (ShouldFail(Call::kUnmapView)) return false;
  const bool unmapped = inner_.UnmapView(view, length);
  if (unmapped) --mapped_views_;
  return unmapped;
}

void FaultInjectingPlatform::CloseSection(SectionObject* section) {
  if (section != nullptr) --open_sections_;
  inner_.CloseSection(section);
}

}  // namespace kha::platform
