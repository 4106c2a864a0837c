// What is refused before toml++ sees a text: what it would take too much
// memory or stack for, and what it mishandles. Every reader of our files
// goes through this first.
#pragma once

#include <string>
#include <string_view>

namespace kha::historian {

// Empty when `text` may be handed to toml++; otherwise why not, in one
// line: larger than kMaxConfigTextSize, nesting deeper than
// kMaxNestingDepth, or a table header without a key.
std::string ReasonToRefuseBeforeParsing(std::string_view text);

}  // namespace kha::historian
