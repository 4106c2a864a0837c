// How a 32-bit float travels through the text files, whose numbers are
// read as doubles: written as the shortest decimal text that reads back as
// the same float, read back by rounding the double to the nearest float.
#pragma once

#include <cstdint>
#include <optional>

namespace kha::historian {

uint32_t FloatBits(float value);
float FloatFromBits(uint32_t bits);

// The double to write for `value` (finite or infinite): printed in its
// shortest form it gives the shortest decimal text of `value`, and rounding
// it to float gives `value` back. Where those two promises conflict (two
// floats, whose shortest text read as a double rounds to a neighbour), the
// exact value of `value`, which keeps the second.
double DoubleForFloatText(float value);

// The float nearest to `value`, or nothing when `value` is finite but
// beyond the float range (it would round to an infinity).
std::optional<float> FloatFromDouble(double value);

// True for the one NaN that the files write as `nan`: positive, quiet, no
// payload. Every other NaN is written by its bit pattern.
bool IsPlainNaN(float value);

}  // namespace kha::historian
