// The shared library exports exactly the interface's C names: nothing of
// the C++ inside leaks, and no listed name is missing. The shipped one
// holds nothing of the test build: no name prefix, no fault injection, no
// way to put another platform in front of the OS.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>

#include "platform/testing/name_prefix.h"

namespace {

std::set<std::string> NamesInFile(const char* path) {
  std::set<std::string> names;
  std::ifstream in(path);
  EXPECT_TRUE(in.good()) << path;
  std::string line;
  while (std::getline(in, line)) {
    if (const auto end = line.find_last_not_of(" \t\r"); end != std::string::npos) {
      line.erase(end + 1);
    }
    if (!line.empty() && line[0] != '#') names.insert(line);
  }
  return names;
}

// Dynamic symbols the library defines, without their version suffix;
// the version node itself (an absolute symbol) is not a name.
std::set<std::string> ExportedNames() {
  std::set<std::string> names;
  const std::string command = std::string("nm -D --defined-only '") + KHA_SHARED_LIBRARY + "'";
  FILE* pipe = popen(command.c_str(), "r");
  EXPECT_NE(pipe, nullptr);
  if (pipe == nullptr) return names;
  char line[1024];
  while (std::fgets(line, sizeof line, pipe) != nullptr) {
    std::istringstream fields(line);
    std::string address, type, name;
    fields >> address >> type >> name;
    if (name.empty()) continue;
    name = name.substr(0, name.find('@'));
    if (type == "A" && name.rfind("KESTIHISTADMIN_", 0) == 0) continue;
    names.insert(name);
  }
  EXPECT_EQ(pclose(pipe), 0) << command;
  return names;
}

TEST(Exports, SharedLibraryExportsExactlyTheListedNames) {
  const std::set<std::string> listed = NamesInFile(KHA_EXPORTS_LIST);
  const std::set<std::string> exported = ExportedNames();
  EXPECT_EQ(listed.size(), 32u);
  EXPECT_EQ(exported, listed);
}

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
