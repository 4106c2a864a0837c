// The main of every test binary. Each test process gets kernel-object
// names of its own (unless its parent already chose them for it), so tests
// run in parallel without colliding and never touch a real region.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/platform.h"
#include "platform/testing/name_prefix.h"
#include "support/child_process.h"

#if defined(_WIN32)
#include <process.h>
#define getpid _getpid
#else
#include <unistd.h>
#endif

int main(int argc, char** argv) {
  if (std::getenv(kha::platform::kNamePrefixVariable) == nullptr) {
    const std::string prefix = "khatest" + std::to_string(getpid()) + "_";
#if defined(_WIN32)
    _putenv_s(kha::platform::kNamePrefixVariable, prefix.c_str());
#else
    setenv(kha::platform::kNamePrefixVariable, prefix.c_str(), 1);
#endif
  }
  if (const int child_exit = kha::test::RunChildRoleIfAsked(argc, argv); child_exit >= 0) {
    return child_exit;
  }
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
