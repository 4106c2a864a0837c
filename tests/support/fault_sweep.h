// Every failure path of one operation without writing each one out: the
// operation is run again and again with call 1, 2, 3, ... of the platform
// failing, one per run, until a run gets through without reaching its
// failure. After each run that met its failure the result must be one the
// operation promises for it; `after` then looks at what is left (handles
// held, the region's tables).
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <set>
#include <vector>

#include "kestihistadmin.h"
#include "support/fault_platform.h"
#include "support/os_error.h"
#include "tools/verify/region_verifier.h"

namespace kha::test {

struct FaultSweep {
  // The kind of call that fails; when empty, calls of every kind count.
  std::optional<platform::Call> call{};
  // What a run may return when its failure was met (KHA_OK only where the
  // operation may get over the failure).
  std::set<int32_t> promised{};
  // Runs unharmed before each run of the operation.
  std::function<void()> prepare = [] {};
  std::function<int32_t()> operation{};
  // Runs after every run; `met` tells whether the injected failure was reached.
  std::function<void(int nth, int32_t result, bool met)> after = [](int, int32_t, bool) {};
  int limit = 500;
  // A run that met its failure and did not succeed must leave the injected
  // OS error for its caller.
  bool leaves_os_error = false;
};

// Returns the results of the runs that met their failure, in order.
inline std::vector<int32_t> RunFaultSweep(ScopedFaultPlatform& faults, const FaultSweep& sweep) {
  const auto calls = [&] { return sweep.call ? faults->Calls(*sweep.call) : faults->TotalCalls(); };
  std::vector<int32_t> results;
  for (int nth = 1; nth <= sweep.limit; ++nth) {
    SCOPED_TRACE(testing::Message() << "failing call " << nth);
    sweep.prepare();
    const int before = calls();
    if (sweep.call) {
      faults->FailNth(*sweep.call, nth);
    } else {
      faults->FailNthOfAny(nth);
    }
    const auto [result, error] = CallKeepingOsError(sweep.operation);
    faults->Reset();
    const bool met = calls() - before >= nth;
    if (met) {
      results.push_back(result);
      EXPECT_EQ(sweep.promised.count(result), 1u) << "result " << result;
      if (sweep.leaves_os_error && result != KHA_OK) {
        EXPECT_EQ(error, platform::kInjectedError);
      }
    } else {
      EXPECT_EQ(result, KHA_OK) << "a run without failures must succeed";
    }
    sweep.after(nth, result, met);
    if (!met) return results;
  }
  ADD_FAILURE() << "never got through in " << sweep.limit << " runs";
  return results;
}

// The region's tables must be consistent. With `leftovers_allowed`, a slot
// carved out just before a failed flush may stay carved out and free, with
// the bytes that the reset of the header left in it (the old record of
// that slot): not a fault of the tables.
inline void ExpectConsistentTables(bool leftovers_allowed = false) {
  for (const verify::Violation& v : verify::VerifyRegion()) {
    if (leftovers_allowed &&
        (v.rule == verify::Rule::kFreedRepository || v.rule == verify::Rule::kFreedFileSet)) {
      continue;
    }
    ADD_FAILURE() << v.message;
  }
}

}  // namespace kha::test
