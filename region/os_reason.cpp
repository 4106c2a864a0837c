#include "region/os_reason.h"

#include "kestihistadmin.h"

namespace kha {
namespace {

struct NotedReason {
  int32_t code = KHA_OK;  // KHA_OK: nothing noted
  int error = 0;
  int depth = 0;  // exports of this thread inside each other
};

constinit thread_local NotedReason g_reason __attribute__((tls_model("initial-exec")));

// Noted for a failed wait for the mutex: whatever the export then returns
// (set-up, attach and the operations refuse with codes of their own), the
// wait's failure is its reason.
constexpr int32_t kRefusedHold = INT32_MIN;

}  // namespace

int32_t ResultCodeOf(platform::Step step) {
  using platform::Step;
  switch (step) {
    case Step::kAllocateDescriptor:
      return KHA_NO_MEMORY;
    case Step::kInitializeDescriptor:
      return KHA_INIT_SECURITY_FAILED;
    case Step::kSetNullDacl:
      return KHA_SET_SECURITY_FAILED;
    case Step::kCreateMutex:
      return KHA_CREATE_MUTEX_FAILED;
    case Step::kOpenMutex:
      return KHA_OPEN_MUTEX_FAILED;
    case Step::kCreateSection:
    case Step::kSectionSize:
      return KHA_CREATE_MAPPING_FAILED;
    case Step::kOpenSection:
      return KHA_OPEN_MAPPING_FAILED;
    case Step::kMapView:
      return KHA_MAP_VIEW_FAILED;
    case Step::kUnmapView:
      return KHA_UNMAP_VIEW_FAILED;
    case Step::kFlushView:
      return KHA_FLUSH_VIEW_FAILED;
    case Step::kLockMutex:
    case Step::kUnlockMutex:
      break;  // no code of their own: a failed wait refuses the hold
  }
  return KHA_OK;
}

int32_t ReportOsFailure(const platform::OsFailure& failure) {
  const int32_t code =
      failure.step == platform::Step::kLockMutex ? kRefusedHold : ResultCodeOf(failure.step);
  if (g_reason.code == KHA_OK) {
    g_reason.code = code;
    g_reason.error = failure.error;
  }
  return code;
}

OsReasonScope::OsReasonScope() noexcept {
  if (g_reason.depth++ == 0) g_reason.code = KHA_OK;
}

OsReasonScope::~OsReasonScope() { --g_reason.depth; }

int32_t OsReasonScope::Leave(int32_t result) const noexcept {
  if (result != KHA_OK) {
    const bool noted = result == g_reason.code || g_reason.code == kRefusedHold;
    platform::LeaveOsError(noted ? g_reason.error : 0);
  }
  return result;
}

}  // namespace kha
