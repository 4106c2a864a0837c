// Raising and lowering the counts kept in the region: the header's
// NumberRepos and NumberFileSets and a chain's NumberFS. A count never
// wraps, so a region that another process left inconsistent cannot turn
// an empty table into a full one (or a full one into an empty one).
#pragma once

#include <cstdint>
#include <limits>

namespace kha {

constexpr uint16_t CountRaised(uint16_t count) {
  return count == std::numeric_limits<uint16_t>::max() ? count : static_cast<uint16_t>(count + 1);
}

constexpr uint16_t CountLowered(uint16_t count) {
  return count == 0 ? count : static_cast<uint16_t>(count - 1);
}

// NumberFS is signed 16-bit; a chain is never longer than the 32,767
// slots of the file-set table, nor shorter than 0.
constexpr int16_t ChainLengthRaised(int16_t length) {
  if (length < 0) return 1;
  return length == std::numeric_limits<int16_t>::max() ? length : static_cast<int16_t>(length + 1);
}

constexpr int16_t ChainLengthLowered(int16_t length) {
  return length <= 0 ? int16_t{0} : static_cast<int16_t>(length - 1);
}

}  // namespace kha
