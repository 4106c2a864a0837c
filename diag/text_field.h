// Length of a string held in a fixed-size field of the region. The bytes
// are written by other processes: a field without its terminating zero is
// printed up to its end, never past it.
#pragma once

#include <cstddef>

#include "tables/bounded_string.h"

namespace kha {

template <std::size_t N>
int TextLength(const char (&field)[N]) {
  static_assert(N < 4096);
  return static_cast<int>(BoundedLength(field, N));
}

}  // namespace kha
