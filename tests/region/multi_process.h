// What the multi-process region tests share: the children's exit codes,
// a counter in the tuning block, files as signals between processes, and
// a fixture with a directory of its own.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "kestihistadmin.h"
#include "platform/platform.h"
#include "platform/testing/name_prefix.h"
#include "support/child_process.h"
#include "support/live_objects.h"
#include "support/region_fixture.h"
#include "support/watchdog.h"

namespace kha::test::multi_process {

namespace fs = std::filesystem;

inline constexpr uint32_t kSize = 100000;

// Exit codes of the children: which step went wrong.
enum ChildExit {
  kChildOk = 0,
  kAttachFailed = 10,
  kWrongValue,
  kAccessFailed,
  kNotExclusive,
  kUsage
};

inline bool Exists(const fs::path& path) {
  std::error_code error;
  return fs::exists(path, error);
}

inline void Touch(const fs::path& path) { std::ofstream(path) << "ready\n"; }

inline int32_t ReadCounter() {
  KestiHistAdminTuningData tuning;
  if (GetKestiHistAdminTuningData(&tuning) != KHA_OK) return -1;
  return tuning.TuningValues14To40[0];
}

// One increment of a counter in the tuning block, as a read, a pause and a
// write: any other writer inside the same lock would lose an update.
inline int32_t IncrementCounter() {
  KestiHistAdminTuningData tuning;
  if (GetKestiHistAdminTuningData(&tuning) != KHA_OK) return kAccessFailed;
  const int32_t value = tuning.TuningValues14To40[0];
  std::this_thread::yield();
  tuning.TuningValues14To40[0] = value + 1;
  return PutKestiHistAdminTuningData(&tuning) == KHA_OK ? kChildOk : kAccessFailed;
}

class MultiProcess : public testing::Test {
 protected:
  void SetUp() override {
    // The name prefix is this test process's own; the test name makes the
    // directory unique within it.
    const char* prefix = std::getenv(kha::platform::kNamePrefixVariable);
    dir_ = fs::path(testing::TempDir()) /
           (std::string("khamp.") + (prefix != nullptr ? prefix : "") +
            testing::UnitTest::GetInstance()->current_test_info()->name());
    std::error_code error;
    fs::remove_all(dir_, error);
    ASSERT_TRUE(fs::create_directories(dir_, error)) << dir_ << ": " << error.message();
  }
  void TearDown() override {
    DetachCompletely();
    std::error_code error;
    fs::remove_all(dir_, error);
  }

  fs::path File(const std::string& name) const { return dir_ / name; }

  // Waits until `path` exists while `child` runs; false if the child ends
  // first (or the bound passes).
  static bool WaitForFile(const fs::path& path, Child& child) {
    const auto give_up = std::chrono::steady_clock::now() + kHangBound;
    while (!Exists(path)) {
      if (!child.Running() || std::chrono::steady_clock::now() > give_up) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
  }

  static int WaitBounded(Child& child, const char* what) {
    Watchdog watchdog(what);
    return child.Wait();
  }

  fs::path dir_;
};

}  // namespace kha::test::multi_process
