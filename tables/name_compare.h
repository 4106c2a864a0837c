// How the tables compare names and paths: the ASCII letters A to Z and
// a to z match whatever their case, every other byte must match exactly.
// Nothing is normalised; names and paths are stored as callers spelled
// them.
//
// A repository name is compared with a word-at-a-time fold, since the
// search by name runs over the whole repository table; the result is
// exactly that of the byte-by-byte rule.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "region/layout.h"

namespace kha {

constexpr unsigned char FoldAsciiCase(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
}

// Eight bytes at once: every byte 'A'..'Z' becomes its small letter, every
// other byte (bytes above 0x7F included) stays as it is. No byte's sum
// carries into its neighbour: the low seven bits plus either constant stay
// below 0x100.
constexpr uint64_t FoldAsciiCase(uint64_t word) {
  constexpr uint64_t kOnes = 0x0101010101010101ull;
  constexpr uint64_t kHighBits = kOnes * 0x80;
  const uint64_t low_bits = word & ~kHighBits;
  const uint64_t above_z = low_bits + kOnes * (0x7F - 'Z');  // high bit: byte > 'Z'
  const uint64_t from_a = low_bits + kOnes * (0x80 - 'A');   // high bit: byte >= 'A'
  const uint64_t capital = from_a & ~above_z & ~word & kHighBits;
  return word | (capital >> 2);  // 0x80 >> 2 is the case bit 0x20
}

// A repository name prepared for comparison with many stored names: its
// bytes and its terminating zero, folded, and a mask of those bytes. A
// stored name matches when its first length + 1 bytes fold to the same:
// the terminator must sit at the same place, so a longer stored name
// never matches. Only the 32-byte field is read, terminated or not.
class RepositoryNameKey {
 public:
  // `name` holds `length` bytes, 1 to 30; its terminator is not read.
  RepositoryNameKey(const char* name, std::size_t length) {
    std::array<unsigned char, kNameFieldSize> bytes{};
    std::array<unsigned char, kNameFieldSize> mask{};
    std::memcpy(bytes.data(), name, length);
    for (std::size_t i = 0; i <= length; ++i) mask[i] = 0xFF;  // the terminator too
    for (std::size_t w = 0; w < kWords; ++w) {
      std::memcpy(&folded_[w], bytes.data() + w * sizeof(uint64_t), sizeof(uint64_t));
      std::memcpy(&mask_[w], mask.data() + w * sizeof(uint64_t), sizeof(uint64_t));
      folded_[w] = FoldAsciiCase(folded_[w]);
    }
  }

  bool Matches(const char (&stored)[kNameFieldSize]) const {
    uint64_t difference = 0;
    for (std::size_t w = 0; w < kWords; ++w) {
      uint64_t word;
      std::memcpy(&word, stored + w * sizeof(uint64_t), sizeof(uint64_t));
      difference |= (FoldAsciiCase(word) ^ folded_[w]) & mask_[w];
    }
    return difference == 0;
  }

 private:
  static constexpr std::size_t kWords = kNameFieldSize / sizeof(uint64_t);
  static_assert(kNameFieldSize % sizeof(uint64_t) == 0);
  static_assert(kMaxNameLength + 1 <= kNameFieldSize);

  std::array<uint64_t, kWords> folded_{};
  std::array<uint64_t, kWords> mask_{};
};

// True when the zero-terminated `path` equals the string in a 256-byte path
// field of the region. A field without a terminator holds a string of 256
// bytes; nothing beyond the field is read.
inline bool PathEquals(const char* path, const char (&field)[kPathFieldSize]) {
  for (std::size_t i = 0;; ++i) {
    const auto a = static_cast<unsigned char>(path[i]);
    if (i == kPathFieldSize) return a == 0;  // the field's string ended with the field
    const auto b = static_cast<unsigned char>(field[i]);
    if (FoldAsciiCase(a) != FoldAsciiCase(b)) return false;
    if (a == 0) return true;
  }
}

}  // namespace kha
