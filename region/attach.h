// Set-up, attach and detach of the region in this process: the whole of
// each exported call. Each takes and releases the HistAdmin mutex itself,
// around the step that needs it.
#pragma once

#include <cstdint>

namespace kha {

int32_t SetupAndAttachRegion(uint32_t size);
int32_t AttachRegion();
int32_t DetachRegion();

}  // namespace kha
