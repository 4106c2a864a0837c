// The case fold and the name key against the plain byte-by-byte rule: ASCII letters match whatever
// their case, every other byte exactly.
#include "tables/name_compare.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>

namespace {

using kha::FoldAsciiCase;
using kha::RepositoryNameKey;

TEST(NameCompare, ByteFoldTouchesOnlyCapitals) {
  for (int c = 0; c < 256; ++c) {
    const auto byte = static_cast<unsigned char>(c);
    const unsigned char expected =
        (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : byte;
    EXPECT_EQ(FoldAsciiCase(byte), expected) << c;
  }
}

// The rule, one byte at a time, on a stored field of 32 bytes.
bool Reference(const std::string& name, const char (&stored)[32]) {
  for (std::size_t i = 0; i <= name.size(); ++i) {
    const auto a = static_cast<unsigned char>(i < name.size() ? name[i] : '\0');
    const auto b = static_cast<unsigned char>(stored[i]);
    if (FoldAsciiCase(a) != FoldAsciiCase(b)) return false;
  }
  return true;
}

TEST(NameCompare, KeyAgreesWithTheByteRuleOnRandomNames) {
  std::mt19937 random(12345);
  const char alphabet[] = "aAzZ@[`{_-09\x80\xC1\xE1 ";
  std::uniform_int_distribution<std::size_t> pick(0, sizeof alphabet - 2);
  std::uniform_int_distribution<std::size_t> length(1, 30);
  int matches = 0;
  for (int round = 0; round < 200000; ++round) {
    std::string name;
    const std::size_t n = length(random) % 4 + 1 + (round % 7 == 0 ? 26 : 0);
    for (std::size_t i = 0; i < n; ++i) name += alphabet[pick(random)];
    char stored[32];
    std::memset(stored, static_cast<int>(alphabet[pick(random)]), sizeof stored);
    // Mostly a case variant of the name, sometimes longer, shorter or changed.
    std::string variant = name;
    for (char& c : variant) {
      if (random() % 2) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    switch (random() % 4) {
      case 0:
        variant[random() % variant.size()] = alphabet[pick(random)];
        break;
      case 1:
        if (variant.size() < 31) variant += 'x';
        break;
      case 2:
        if (variant.size() > 1) variant.pop_back();
        break;
      default:
        break;
    }
    std::memcpy(stored, variant.data(), variant.size());
    if (variant.size() < 32 && random() % 8 != 0) stored[variant.size()] = '\0';
    const RepositoryNameKey key(name.data(), name.size());
    const bool expected = Reference(name, stored);
    ASSERT_EQ(key.Matches(stored), expected) << name << " / " << std::string(stored, 32);
    // The one-word test of a scan never turns a match away.
    if (expected) {
      ASSERT_TRUE(key.MayMatch(stored)) << name;
    }
    matches += expected ? 1 : 0;
  }
  EXPECT_GT(matches, 10000);  // both outcomes were exercised
  EXPECT_LT(matches, 190000);
}

}  // namespace
