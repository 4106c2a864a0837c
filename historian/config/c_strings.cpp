#include "config/c_strings.h"

#include <cstring>

namespace kha::historian {

std::optional<std::string_view> TerminatedString(const char* buffer, std::size_t capacity) {
  if (buffer == nullptr) return std::nullopt;
  const void* end = std::memchr(buffer, '\0', capacity);
  if (end == nullptr) return std::nullopt;
  return std::string_view(buffer, static_cast<std::size_t>(static_cast<const char*>(end) - buffer));
}

bool CopyToBuffer(std::string_view text, char* buffer, std::size_t capacity) {
  const bool fits = text.size() < capacity;
  const std::size_t length = fits ? text.size() : capacity - 1;
  std::memmove(buffer, text.data(), length);
  buffer[length] = '\0';
  return fits;
}

}  // namespace kha::historian
