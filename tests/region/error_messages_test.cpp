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

TEST(ErrorMessages, FullCopySetsLengthToTextPlusTerminator) {
  uint32_t length = 0;
  EXPECT_EQ(Message(0, 100, &length), "No error.");
  EXPECT_EQ(length, 10u);
  EXPECT_EQ(Message(0, 10, &length), "No error.");
  EXPECT_EQ(length, 10u);
}

TEST(ErrorMessages, CutCopyKeepsLengthAndTerminates) {
  uint32_t length = 0;
  EXPECT_EQ(Message(0, 9, &length), "No error");
  EXPECT_EQ(length, 9u);
  EXPECT_EQ(Message(0, 1, &length), "");
  EXPECT_EQ(length, 1u);
}

TEST(ErrorMessages, TableEndsAndOddTexts) {
  EXPECT_EQ(Message(-2001, 2048), "The HISTADMIN shared memory already exists.");
  EXPECT_EQ(Message(-2055, 2048), "The number part in the fileset folder name is too large.");
  EXPECT_EQ(Message(-2013, 2048),
            "UFailed to UnMapViewOfFile for the KESTIHISTADMIN shared memory.");
  EXPECT_EQ(Message(-2040, 2048),
            "Failed to create a fileset in the KESTIHISTADMIN shared memroy.");
  EXPECT_EQ(Message(-2050, 2048), "Thresshold is out of range.");
  EXPECT_EQ(Message(-2036, 2048), "The fileset number if invalid for this repository.");
  EXPECT_EQ(Message(-2022, 2048), "There is not enough space in the KESTIHISTADMIN shared memory.");
}

TEST(ErrorMessages, UnknownCodes) {
  EXPECT_EQ(Message(-2000, 2048), "Unknown error = -2000");
  EXPECT_EQ(Message(-2056, 2048), "Unknown error = -2056");
  EXPECT_EQ(Message(1, 2048), "Unknown error = 1");
  EXPECT_EQ(Message(INT32_MIN, 2048), "Unknown error = -2147483648");
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
