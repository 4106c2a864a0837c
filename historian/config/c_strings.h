// Strings in the callers' fixed-size buffers: read without looking past
// the buffer, written cut to fit and always terminated.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

namespace kha::historian {

// The zero-terminated string at the start of a buffer of `capacity`
// bytes; nothing when no zero byte ends it inside the buffer.
std::optional<std::string_view> TerminatedString(const char* buffer, std::size_t capacity);

// Copies `text` into a buffer of `capacity` (> 0) bytes, cut to
// capacity - 1 bytes and terminated. False when it had to be cut.
bool CopyToBuffer(std::string_view text, char* buffer, std::size_t capacity);

}  // namespace kha::historian
