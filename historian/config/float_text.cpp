#include "config/float_text.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <system_error>

namespace kha::historian {

namespace {

// The largest double that rounds to FLT_MAX rather than to infinity lies
// just below FLT_MAX + half an ulp of FLT_MAX (0x1.ffffffp127).
constexpr double kFloatRoundingLimit = 0x1.ffffffp127;
constexpr uint32_t kPlainNaNBits = 0x7FC00000u;

}  // namespace

uint32_t FloatBits(float value) {
  uint32_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

float FloatFromBits(uint32_t bits) {
  float value = 0.0f;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

double DoubleForFloatText(float value) {
  const double exact = static_cast<double>(value);
  if (!std::isfinite(value)) return exact;
  char text[64];
  const auto printed = std::to_chars(text, text + sizeof text, value);
  double shortest = 0.0;
  const auto parsed = std::from_chars(text, printed.ptr, shortest);
  if (printed.ec != std::errc{} || parsed.ec != std::errc{}) return exact;
  // Reading the shortest text as a double and rounding that to float
  // rounds twice, which for two floats (+-7.038531e-26) lands on the
  // neighbour. Those are written as their exact value, longer but true.
  if (FloatBits(static_cast<float>(shortest)) != FloatBits(value)) return exact;
  return shortest;
}

std::optional<float> FloatFromDouble(double value) {
  if (std::isfinite(value) && std::fabs(value) >= kFloatRoundingLimit) return std::nullopt;
  return static_cast<float>(value);
}

bool IsPlainNaN(float value) { return FloatBits(value) == kPlainNaNBits; }

}  // namespace kha::historian
