// toml++, compiled once (toml_library.cpp) for the whole configuration
// code. Failures come back as values, never as exceptions.
#pragma once

#include <version>

#ifndef TOML_EXCEPTIONS
#define TOML_EXCEPTIONS 0
#endif
#ifndef TOML_HEADER_ONLY
#define TOML_HEADER_ONLY 0
#endif
// Numbers go through <charconv> wherever the standard library has it for
// floating point: correctly rounded reads and shortest round-trip writes.
#if !defined(TOML_FLOAT_CHARCONV) && defined(__cpp_lib_to_chars) && __cpp_lib_to_chars >= 201611L
#define TOML_FLOAT_CHARCONV 1
#endif
#include <toml++/toml.h>

#include <cstddef>
#include <string_view>

namespace kha::historian {

// toml++ (3.3) takes it for granted that a table header's brackets are
// followed by a key; "[[[" or a bracket at the end of a line breaks that
// assumption (an assertion in debug builds, undefined behaviour where the
// compiler is told to assume it). Returns the 1-based number of the first
// line whose header does not start with a key (a bare-key character, a
// quote or the closing bracket toml++ reports itself), 0 when every header
// does. Such a file is refused before toml++ sees it. A line inside a
// multi-line value that starts with such brackets is refused too. A
// byte-order mark, which toml++ skips at the start, is skipped here as
// well, and a carriage return counts as a blank like a space.
inline std::size_t FirstHeaderWithoutKey(std::string_view text) {
  std::size_t line = 1;
  const std::size_t start = text.starts_with("\xEF\xBB\xBF") ? 3 : 0;
  for (std::size_t at = start; at < text.size(); ++line) {
    std::size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    std::size_t i = at;
    while (i < end && (text[i] == ' ' || text[i] == '\t' || text[i] == '\r')) ++i;
    if (i < end && text[i] == '[') {
      ++i;
      if (i < end && text[i] == '[') ++i;
      while (i < end && (text[i] == ' ' || text[i] == '\t' || text[i] == '\r')) ++i;
      const char c = i < end ? text[i] : '\n';
      const bool key = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                       c == '_' || c == '-' || c == '"' || c == '\'' || c == ']';
      if (!key) return line;
    }
    at = end + 1;
  }
  return 0;
}

}  // namespace kha::historian
