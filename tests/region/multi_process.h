// What the multi-process region tests share: the children's exit codes,
// a counter in the tuning block, and a fixture with a scratch directory
// for the files by which the processes signal each other.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <thread>

#include "kestihistadmin.h"
#include "support/child_process.h"
#include "support/live_objects.h"
#include "support/region_fixture.h"
#include "support/temporary_directory.h"
#include "support/watchdog.h"

namespace kha::test::multi_process {

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
  void SetUp() override { ASSERT_TRUE(scratch_.Made()); }
  void TearDown() override { DetachCompletely(); }

  std::string File(const std::string& name) const { return scratch_.File(name); }

  static int WaitBounded(Child& child, const char* what) {
    Watchdog watchdog(what);
    return child.Wait();
  }

  TemporaryDirectory scratch_{"khamp"};
};

}  // namespace kha::test::multi_process
