// The OS backend with one change for the fuzzer: the view of the section
// is a heap block of the section's size instead of a shared mapping, so
// that AddressSanitizer sees any read or write outside it to the byte (a
// mapping is rounded up to whole pages and neighbours other mappings).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>

#include "platform/platform.h"

namespace kha::fuzz {

class HeapViewPlatform final : public platform::Platform {
 public:
  explicit HeapViewPlatform(platform::Platform& os) : os_(os) {}

  platform::SecurityDescriptor* AllocateSecurityDescriptor() override {
    return os_.AllocateSecurityDescriptor();
  }
  bool InitializeSecurityDescriptor(platform::SecurityDescriptor* sd) override {
    return os_.InitializeSecurityDescriptor(sd);
  }
  bool SetNullDacl(platform::SecurityDescriptor* sd) override { return os_.SetNullDacl(sd); }
  void FreeSecurityDescriptor(platform::SecurityDescriptor* sd) override {
    os_.FreeSecurityDescriptor(sd);
  }
  platform::MutexObject* CreateMutex(const char* name, platform::SecurityDescriptor* sd) override {
    return os_.CreateMutex(name, sd);
  }
  platform::MutexObject* OpenMutex(const char* name) override { return os_.OpenMutex(name); }
  platform::LockOutcome LockMutex(platform::MutexObject* mutex) override {
    return os_.LockMutex(mutex);
  }
  bool UnlockMutex(platform::MutexObject* mutex) override { return os_.UnlockMutex(mutex); }
  void CloseMutex(platform::MutexObject* mutex) override { os_.CloseMutex(mutex); }
  platform::SectionObject* CreateSection(const char* name, uint32_t size,
                                         platform::SecurityDescriptor* sd) override {
    return os_.CreateSection(name, size, sd);
  }
  platform::SectionObject* OpenSection(const char* name) override { return os_.OpenSection(name); }
  uint64_t SectionSize(platform::SectionObject* section) override {
    return os_.SectionSize(section);
  }
  void* MapView(platform::SectionObject* section, size_t* length) override {
    const auto size = static_cast<size_t>(os_.SectionSize(section));
    auto* view = new (std::nothrow) std::byte[size];
    if (view == nullptr) return nullptr;
    std::memset(view, 0, size);
    *length = size;
    return view;
  }
  bool FlushView(void*, size_t) override { return true; }
  bool UnmapView(void* view, size_t) override {
    delete[] static_cast<std::byte*>(view);
    return true;
  }
  void CloseSection(platform::SectionObject* section) override { os_.CloseSection(section); }

 private:
  platform::Platform& os_;
};

}  // namespace kha::fuzz
