// How deep a configuration text nests, measured before the TOML library
// builds anything from it. toml++ bounds nested arrays and inline tables,
// but not the segments of a dotted key: "a.a.a.a ... = 1" with a hundred
// thousand segments builds as many nested tables, and freeing them (and
// walking them after the parse) recurses once per table until the stack
// runs out. Our own files reach six levels by the count below.
#pragma once

#include <cstddef>
#include <string_view>

namespace kha::historian {

// The deepest that a table header, a key and the arrays and inline tables
// around it may nest together.
inline constexpr std::size_t kMaxNestingDepth = 32;

// The 1-based number of the first line at which `text` nests deeper than
// kMaxNestingDepth, 0 when it never does. The count is an upper bound of
// the depth of the tree the TOML library would build: every segment of a
// table header, of a dotted key and every open array or inline table
// counts one level, and a dot anywhere outside strings and comments is
// taken for a key's. Strings and comments are followed as TOML writes
// them; a byte-order mark at the start is skipped.
std::size_t FirstLineNestedTooDeep(std::string_view text);

}  // namespace kha::historian
