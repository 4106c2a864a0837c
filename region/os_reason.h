// The OS reason of a failure, carried from the kernel-object step that
// failed to the caller of the export: the step's failure is noted here,
// with its result code, and the export leaves the OS error number where a
// C caller looks for it (errno, or the thread's last error on Windows)
// once everything it did afterwards (clean-up, the unlock) is done, since
// those calls may change it.
#pragma once

#include <cstdint>

#include "kestihistadmin.h"
#include "platform/platform.h"

namespace kha {

// The result code of a failure at `step`.
int32_t ResultCodeOf(platform::Step step);

// Notes the OS error of `failure` as the reason of the current export's
// failure (unless a reason is noted already: the first failure is the one
// the call reports, clean-up after it may fail too) and returns the
// result code of its step. A failed wait for the mutex is the reason of
// whatever code the refused export returns.
int32_t ReportOsFailure(const platform::OsFailure& failure);

// For the span of an export: the outermost one forgets what an earlier
// call noted; at the end, a result that is the code of the noted failure
// leaves its OS error for the caller, any other failure leaves 0 (no OS
// reason: whatever the calls inside left there means nothing).
class OsReasonScope {
 public:
  OsReasonScope() noexcept;
  ~OsReasonScope();
  OsReasonScope(const OsReasonScope&) = delete;
  OsReasonScope& operator=(const OsReasonScope&) = delete;

  int32_t Leave(int32_t result) const noexcept;
};

// Runs `operation` (the whole export, its lock included) and passes on
// the OS reason of its failure. Nothing is thrown across the interface:
// the backends and the loads turn their own allocation failures into
// result codes, so what could still throw here (a process-local mutex,
// an allocation of a library it calls) is the machine running short,
// which the export reports as -2005; the guards release the lock and a
// unit left by an exception is rolled back on the way out.
template <typename Operation>
int32_t PassingOnOsReason(Operation&& operation) noexcept {
  const OsReasonScope scope;
  try {
    return scope.Leave(operation());
  } catch (...) {
    return scope.Leave(KHA_NO_MEMORY);
  }
}

}  // namespace kha
