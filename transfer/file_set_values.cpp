#include "transfer/transfer.h"

namespace kha {

bool HasOwnFileSetValues(int32_t size, float threshold, int32_t time_span) {
  // `!(x <= 0.0)` rather than `x > 0.0`: a NaN threshold is the file set's own.
  return size != -1 && !(static_cast<double>(threshold) <= 0.0) && time_span > 0;
}

}  // namespace kha
