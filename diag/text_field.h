// Length of a string held in a fixed-size field of the region. The bytes
// are written by other processes: a field without its terminating zero is
// printed up to its end, never past it.
#pragma once

#include <cstddef>
#include <cstring>

namespace kha {

template <std::size_t N>
int TextLength(const char (&field)[N]) {
  static_assert(N < 4096);
  const void* end = std::memchr(field, '\0', N);
  return static_cast<int>(end != nullptr ? static_cast<const char*>(end) - field : N);
}

}  // namespace kha
