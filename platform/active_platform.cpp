#include "platform/platform.h"

namespace kha::platform {

namespace detail {

constinit std::atomic<Platform*> g_active_platform{nullptr};

Platform& InstallOsPlatform() {
  Platform& os = OsPlatform();
  Platform* expected = nullptr;
  // A test may have installed its own meanwhile: that one stays.
  g_active_platform.compare_exchange_strong(expected, &os, std::memory_order_acq_rel);
  return *g_active_platform.load(std::memory_order_acquire);
}

}  // namespace detail

}  // namespace kha::platform
