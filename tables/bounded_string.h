// Strings in fixed fields, measured and copied without reading past a
// bound: neither a caller's record nor the region promises a terminator.
#pragma once

#include <cstddef>
#include <cstring>

namespace kha {

// The length of `text`, or `limit` when no terminator lies in its first
// `limit` bytes. Reads at most `limit` bytes.
inline std::size_t BoundedLength(const char* text, std::size_t limit) {
  const void* terminator = std::memchr(text, '\0', limit);
  return terminator != nullptr
             ? static_cast<std::size_t>(static_cast<const char*>(terminator) - text)
             : limit;
}

// Copies a string field from a caller's record into the region, up to and
// including its terminator, as a string copy does: the bytes of the field
// behind it keep what they held. A field without a terminator gives its
// first N - 1 bytes and a terminator.
template <std::size_t N>
void CopyStringField(char (&to)[N], const char (&from)[N]) {
  static_assert(N > 0);
  const std::size_t length = BoundedLength(from, N - 1);
  std::memcpy(to, from, length);
  to[length] = '\0';
}

}  // namespace kha
