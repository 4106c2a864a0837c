// How the tables compare names and paths: folded with FoldAsciiCase
// (region/ascii_case.h), so the ASCII letters match whatever their case
// and every other byte must match exactly. Names and paths are stored as
// callers spelled them.
//
// A repository name is compared eight bytes at a time, since the search
// by name runs over the whole repository table; the result is exactly
// that of the byte-by-byte rule.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "region/ascii_case.h"
#include "region/layout.h"

namespace kha {

// A repository name prepared for comparison with many stored names. A
// stored name matches when its first length + 1 bytes equal the name and
// its terminator, ignoring the case of ASCII letters: the terminator must
// sit at the same place, so a longer stored name never matches. Only the
// 32-byte field is read, terminated or not.
//
// Eight bytes are compared at once without folding the stored bytes. With
// the name folded to small letters, a stored byte matches exactly when it
// is the same byte, or differs from it only in the case bit 0x20 where the
// name holds a small letter (the stored byte is then its capital). So a
// word matches when its difference from the folded name has no bit set
// outside the case bits of the name's letters.
class RepositoryNameKey {
 public:
  // `name` holds `length` bytes, 1 to 30; its terminator is not read.
  RepositoryNameKey(const char* name, std::size_t length) {
    std::array<unsigned char, kNameFieldSize> folded{};
    std::array<unsigned char, kNameFieldSize> checked{};
    for (std::size_t i = 0; i < length; ++i) {
      folded[i] = FoldAsciiCase(static_cast<unsigned char>(name[i]));
      checked[i] = (folded[i] >= 'a' && folded[i] <= 'z') ? 0xDF : 0xFF;
    }
    checked[length] = 0xFF;  // the terminator, which folded[length] already is
    for (std::size_t w = 0; w < kWords; ++w) {
      std::memcpy(&folded_[w], folded.data() + w * sizeof(uint64_t), sizeof(uint64_t));
      std::memcpy(&checked_[w], checked.data() + w * sizeof(uint64_t), sizeof(uint64_t));
    }
    words_ = length / sizeof(uint64_t) + 1;  // up to the terminator's word
    // Names in one table tend to share a prefix and to differ towards
    // their end: the word holding the last character rejects most.
    telling_word_ = (length - 1) / sizeof(uint64_t);
  }

  // False when the stored name surely differs; true when it may match.
  // One load: the cheap test run on every record of a scan.
  bool MayMatch(const char (&stored)[kNameFieldSize]) const {
    return WordMatches(stored, telling_word_);
  }

  bool Matches(const char (&stored)[kNameFieldSize]) const {
    for (std::size_t w = 0; w < words_; ++w) {
      if (!WordMatches(stored, w)) return false;
    }
    return true;
  }

 private:
  static constexpr std::size_t kWords = kNameFieldSize / sizeof(uint64_t);
  static_assert(kNameFieldSize % sizeof(uint64_t) == 0);
  static_assert(kMaxNameLength + 1 <= kNameFieldSize);

  bool WordMatches(const char (&stored)[kNameFieldSize], std::size_t w) const {
    uint64_t word;
    std::memcpy(&word, stored + w * sizeof(uint64_t), sizeof(uint64_t));
    return ((word ^ folded_[w]) & checked_[w]) == 0;
  }

  std::array<uint64_t, kWords> folded_{};   // the name in small letters, zero behind it
  std::array<uint64_t, kWords> checked_{};  // bits that must be equal; none behind the terminator
  std::size_t words_ = kWords;
  std::size_t telling_word_ = 0;
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
