// The shipped shared library holds nothing of the test build: no name
// prefix, no fault injection, no way to put another platform in front of
// the OS. (What it exports: the kestihistadmin_exports test.)
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "platform/testing/name_prefix.h"

namespace {

std::string Contents(const char* path) {
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in.good()) << path;
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(Exports, OnlyTheTestBuildHoldsTheTestParts) {
  const std::string shipped = Contents(KHA_SHARED_LIBRARY);
  const std::string test_build = Contents(KHA_TEST_SHARED_LIBRARY);
  for (const char* part :
       {kha::platform::kNamePrefixVariable, "FaultInjectingPlatform", "SetActivePlatform"}) {
    EXPECT_EQ(shipped.find(part), std::string::npos) << part;
    EXPECT_NE(test_build.find(part), std::string::npos) << part;
  }
}

}  // namespace
