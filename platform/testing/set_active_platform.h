// Test build only: puts another platform in front of the OS backend, e.g.
// the fault-injecting decorator or the fuzzer's heap-backed view.
#pragma once

#include "platform/platform.h"

namespace kha::platform {

// Installs `platform` (null restores the OS backend). Not safe while
// another thread is inside the library.
void SetActivePlatform(Platform* platform);

}  // namespace kha::platform
