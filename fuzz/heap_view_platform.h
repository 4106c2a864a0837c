// The OS backend with one change for the fuzzer: the view of the section
// is a heap block of the section's size instead of a shared mapping, so
// that AddressSanitizer sees any read or write outside it to the byte (a
// mapping is rounded up to whole pages and neighbours other mappings).
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>

#include "platform/platform.h"
#include "platform/testing/name_prefix.h"
#include "platform/testing/set_active_platform.h"

namespace kha::fuzz {

class HeapViewPlatform final : public platform::Platform {
 public:
  explicit HeapViewPlatform(platform::Platform& os) : os_(os) {}

  platform::OsResult<platform::MutexObject*> CreateMutex(const char* name) override {
    return os_.CreateMutex(name);
  }
  platform::OsResult<platform::MutexObject*> OpenMutex(const char* name) override {
    return os_.OpenMutex(name);
  }
  platform::OsResult<platform::LockOutcome> LockMutex(platform::MutexObject* mutex) override {
    return os_.LockMutex(mutex);
  }
  platform::OsResult<void> UnlockMutex(platform::MutexObject* mutex) override {
    return os_.UnlockMutex(mutex);
  }
  void CloseMutex(platform::MutexObject* mutex) override { os_.CloseMutex(mutex); }
  platform::OsResult<platform::SectionObject*> CreateSection(const char* name,
                                                             uint32_t size) override {
    return os_.CreateSection(name, size);
  }
  platform::OsResult<platform::SectionObject*> OpenSection(const char* name) override {
    return os_.OpenSection(name);
  }
  platform::OsResult<uint64_t> SectionSize(platform::SectionObject* section) override {
    return os_.SectionSize(section);
  }
  platform::OsResult<platform::View> MapView(platform::SectionObject* section) override {
    const platform::OsResult<uint64_t> size = os_.SectionSize(section);
    if (!size.ok()) return platform::OsFailure{platform::Step::kMapView, size.failure().error};
    const auto length = static_cast<size_t>(size.value());
    auto* view = new (std::nothrow) std::byte[length];
    if (view == nullptr) return platform::OsFailure{platform::Step::kMapView, ENOMEM};
    std::memset(view, 0, length);
    return platform::View{view, length};
  }
  platform::OsResult<void> FlushView(platform::View) override { return {}; }
  platform::OsResult<void> UnmapView(platform::View view) override {
    delete[] static_cast<std::byte*>(view.address);
    return {};
  }
  void CloseSection(platform::SectionObject* section) override { os_.CloseSection(section); }

 private:
  platform::Platform& os_;
};

}  // namespace kha::fuzz
