// The 16-bit values of the exported interface as the tables read them:
// slot numbers and file-set numbers arrive unsigned and are used as
// signed 16-bit values, so 0x8000 and above name no slot at all.
#pragma once

#include <cstdint>

namespace kha {

constexpr int16_t SlotArgument(uint16_t value) { return static_cast<int16_t>(value); }

constexpr int16_t FileSetNumberArgument(uint16_t value) { return static_cast<int16_t>(value); }

}  // namespace kha
