#include "config/parse_guard.h"

#include "config/config_text.h"
#include "config/nesting_depth.h"
#include "config/toml_library.h"

namespace kha::historian {

std::string ReasonToRefuseBeforeParsing(std::string_view text) {
  if (text.size() > kMaxConfigTextSize) {
    return "larger than " + std::to_string(kMaxConfigTextSize >> 20) + " MiB";
  }
  if (const std::size_t line = FirstLineNestedTooDeep(text); line != 0) {
    return "line " + std::to_string(line) + ": nests more than " +
           std::to_string(kMaxNestingDepth) + " levels deep";
  }
  if (const std::size_t line = FirstHeaderWithoutKey(text); line != 0) {
    return "line " + std::to_string(line) + ": a table header without a key";
  }
  return {};
}

}  // namespace kha::historian
