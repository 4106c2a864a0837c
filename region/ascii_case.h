// How the system folds case: the ASCII letters A to Z become a to z,
// every other byte stays as it is. Names and paths are compared with it;
// nothing else is normalised.
#pragma once

namespace kha {

constexpr unsigned char FoldAsciiCase(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
}

constexpr char FoldAsciiCase(char c) {
  return static_cast<char>(FoldAsciiCase(static_cast<unsigned char>(c)));
}

}  // namespace kha
