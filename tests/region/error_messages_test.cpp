#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "kestihistadmin.h"

namespace {

std::string Message(int32_t code, uint32_t length, uint32_t* length_after = nullptr) {
  std::string buffer(length + 8, '#');
  uint32_t inout = length;
  GetKestiHistAdminErrorMessage(code, buffer.data(), &inout);
  if (length_after != nullptr) *length_after = inout;
  // Nothing beyond the caller's buffer may be touched.
  EXPECT_EQ(buffer.substr(length), std::string(8, '#'));
  return std::string(buffer.c_str());
}

// Cut to the buffer and terminated; the length becomes the text's with
// its terminator when that fits, and stays the buffer's when it does not.
TEST(ErrorMessages, CopyIsCutToTheBufferAndTerminated) {
  const struct {
    uint32_t buffer;
    const char* text;
    uint32_t length;
  } cases[] = {{100, "No error.", 10}, {10, "No error.", 10}, {9, "No error", 9}, {1, "", 1}};
  for (const auto& c : cases) {
    uint32_t length = 0;
    EXPECT_EQ(Message(0, c.buffer, &length), c.text) << c.buffer;
    EXPECT_EQ(length, c.length) << c.buffer;
  }
}

// The ends of the table, texts as odd as they stand, and codes outside it.
TEST(ErrorMessages, TextsOfTheTableAndOfUnknownCodes) {
  const struct {
    int32_t code;
    const char* text;
  } cases[] = {
      {-2001, "The HISTADMIN shared memory already exists."},
      {-2055, "The number part in the fileset folder name is too large."},
      {-2013, "UFailed to UnMapViewOfFile for the KESTIHISTADMIN shared memory."},
      {-2040, "Failed to create a fileset in the KESTIHISTADMIN shared memroy."},
      {-2050, "Thresshold is out of range."},
      {-2036, "The fileset number if invalid for this repository."},
      {-2022, "There is not enough space in the KESTIHISTADMIN shared memory."},
      {-2000, "Unknown error = -2000"},
      {-2056, "Unknown error = -2056"},
      {1, "Unknown error = 1"},
      {INT32_MIN, "Unknown error = -2147483648"},
  };
  for (const auto& c : cases) EXPECT_EQ(Message(c.code, 2048), c.text);
}

TEST(ErrorMessages, EveryCodeHasItsOwnNonEmptyMessage) {
  std::string previous;
  for (int32_t code = -2055; code <= -2001; ++code) {
    const std::string text = Message(code, 2048);
    EXPECT_FALSE(text.empty()) << code;
    EXPECT_EQ(text.find("Unknown"), std::string::npos) << code;
    EXPECT_NE(text, previous) << code;
    previous = text;
  }
}

TEST(ErrorMessages, ZeroLengthOrNullWritesNothing) {
  char buffer[4] = {'x', 'x', 'x', 'x'};
  uint32_t length = 0;
  GetKestiHistAdminErrorMessage(-2001, buffer, &length);
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(std::memcmp(buffer, "xxxx", 4), 0);
  GetKestiHistAdminErrorMessage(-2001, nullptr, &length);
  GetKestiHistAdminErrorMessage(-2001, buffer, nullptr);
  EXPECT_EQ(std::memcmp(buffer, "xxxx", 4), 0);
}

}  // namespace
