#include "platform/platform.h"

#include <atomic>

namespace kha::platform {
namespace {
std::atomic<Platform*> g_installed{nullptr};
}  // namespace

Platform& ActivePlatform() {
  Platform* installed = g_installed.load(std::memory_order_acquire);
  return installed != nullptr ? *installed : OsPlatform();
}

void SetActivePlatform(Platform* platform) { g_installed.store(platform, std::memory_order_release); }

}  // namespace kha::platform
