#include "platform/testing/set_active_platform.h"

namespace kha::platform {

void SetActivePlatform(Platform* platform) {
  detail::g_active_platform.store(platform != nullptr ? platform : &OsPlatform(),
                                  std::memory_order_release);
}

}  // namespace kha::platform
