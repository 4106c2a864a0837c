// Set-up, attach and detach: the exported lifecycle of the region in this
// process. Set-up and attach share one attach count; the handles are
// closed when detach brings it back to 0.
//
// Each call runs in three steps, so that threads of one process may call
// these at once, and while holding the HistAdmin mutex themselves:
// 1. under the lifecycle mutex, obtain the mutex handle and count this call as
//    one of its users (a concurrent failing call cannot close it then);
// 2. take the HistAdmin mutex, then the lifecycle mutex again, and do the work:
//    the HistAdmin mutex serialises it with every other process, the
//    process-local mutex with threads whose wait for it has failed;
// 3. release the HistAdmin mutex, then stop using the handle; the last
//    user closes it when the process holds nothing else.
#include "region/attach.h"

#include <mutex>

#include "kestihistadmin.h"
#include "platform/platform.h"
#include "region/fork_child.h"
#include "region/journal.h"
#include "region/layout.h"
#include "region/lifecycle.h"
#include "region/locking.h"
#include "region/mutex_calls.h"
#include "region/os_reason.h"
#include "region/process_state.h"
#include "region/region_view.h"

namespace kha {
namespace {

template <typename Obtain>
int32_t BeginMutexUse(ProcessState& process, Obtain&& obtain) {
  ClearParentsHoldsInForkedChildren();
  PrepareMutexCallMarks();
  std::lock_guard<std::mutex> serial(LifecycleMutex());
  if (const int32_t result = obtain(); result != KHA_OK) return result;
  ++process.mutex_users;
  return KHA_OK;
}

void EndMutexUse(ProcessState& process) {
  std::lock_guard<std::mutex> serial(LifecycleMutex());
  --process.mutex_users;
  if (process.mutex_users == 0 && process.attach_count == 0 && process.section.load() == nullptr) {
    CloseHistAdminMutex();
  }
}

// Releases the HistAdmin mutex and ends this call's use of its handle,
// however the call leaves (an allocation inside may throw).
class MutexUseEnd {
 public:
  explicit MutexUseEnd(ProcessState& process) : process_(process) {}
  ~MutexUseEnd() {
    ReleaseHistAdminMutex();
    EndMutexUse(process_);
  }
  MutexUseEnd(const MutexUseEnd&) = delete;
  MutexUseEnd& operator=(const MutexUseEnd&) = delete;

 private:
  ProcessState& process_;
};

// Runs `work` with the HistAdmin mutex and the lifecycle mutex held, between
// BeginMutexUse and EndMutexUse; `refused` when the wait for the mutex
// failed (the refused hold is let go of all the same).
template <typename Work>
int32_t UnderHistAdminMutex(ProcessState& process, int32_t refused, Work&& work) {
  const MutexUseEnd end(process);
  if (!TakeHistAdminMutex()) return refused;
  std::lock_guard<std::mutex> serial(LifecycleMutex());
  return work();
}

// Maps the view and the journal beside it. The mutex was taken before
// either was mapped here: a holder that died may have left the journal
// open, and it is rolled back now that it can be. On failure nothing
// stays held but the mutex handle.
int32_t MapViewAndJournal() {
  if (const int32_t result = MapHistAdminView(); result != KHA_OK) {
    CloseHistAdminMapping();
    return result;
  }
  if (const int32_t result = OpenHistAdminJournal(); result != KHA_OK) {
    (void)UnmapHistAdminView();
    CloseHistAdminMapping();
    return result;
  }
  TakeOverJournal();
  return KHA_OK;
}

int32_t SetupLocked(ProcessState& process, uint32_t size) {
  if (process.attach_count > 0) {
    ++process.attach_count;
    return KHA_OK;
  }
  // A region must at least hold its header and tuning block.
  if (size < kFileSetTableOffset) return KHA_NO_SPACE;
  if (const int32_t result = CreateHistAdminMapping(size); result != KHA_OK) return result;
  // Another process may have created the section already, smaller than
  // asked: the region may never claim more bytes than exist.
  const auto section_size = platform::ActivePlatform().SectionSize(process.section.load());
  if (!section_size.ok() || section_size.value() < size) {
    const int32_t code =
        section_size.ok() ? KHA_CREATE_MAPPING_FAILED : ReportOsFailure(section_size.failure());
    CloseHistAdminMapping();
    return code;
  }
  if (const int32_t result = MapViewAndJournal(); result != KHA_OK) return result;
  {
    // The new header is a change like any other: all of it or none.
    const JournalUnit unit;
    RegionHeader* header = HistAdminHeader();
    if (!SaveHeaderForUndo(*header)) {
      (void)UnmapHistAdminView();
      CloseHistAdminMapping();
      return kUnitRefused;
    }
    header->RegionSize = size;
    header->ReposHighWater = 0;
    header->NumberRepos = 0;
    header->FSHighWater = 0;
    header->NumberFileSets = 0;
  }
  // Empty tables hold nothing that a save has not written.
  SettleJournalChanges();
  ++process.attach_count;
  return KHA_OK;
}

int32_t AttachLocked(ProcessState& process) {
  if (process.attach_count > 0) {
    ++process.attach_count;
    return KHA_OK;
  }
  if (const int32_t result = OpenHistAdminMapping(); result != KHA_OK) return result;
  if (const int32_t result = MapViewAndJournal(); result != KHA_OK) return result;
  ++process.attach_count;
  return KHA_OK;
}

int32_t DetachLocked(ProcessState& process) {
  if (process.attach_count == 0) return KHA_NOT_MAPPED;
  if (--process.attach_count > 0) return KHA_OK;
  // On failure the count stays lowered and both handles stay held.
  if (const int32_t result = UnmapHistAdminView(); result != KHA_OK) return result;
  CloseHistAdminMapping();
  return KHA_OK;
}

}  // namespace

int32_t SetupAndAttachRegion(uint32_t size) {
  ProcessState& process = HistAdminProcess();
  if (const int32_t result = BeginMutexUse(process, CreateHistAdminMutex); result != KHA_OK) {
    return result;
  }
  return UnderHistAdminMutex(process, KHA_CREATE_MUTEX_FAILED,
                             [&] { return SetupLocked(process, size); });
}

int32_t AttachRegion() {
  ProcessState& process = HistAdminProcess();
  if (const int32_t result = BeginMutexUse(process, OpenHistAdminMutex); result != KHA_OK) {
    return result;
  }
  return UnderHistAdminMutex(process, KHA_OPEN_MUTEX_FAILED, [&] { return AttachLocked(process); });
}

int32_t DetachRegion() {
  ProcessState& process = HistAdminProcess();
  // Without a mutex handle this process holds nothing to detach from.
  const int32_t begun = BeginMutexUse(
      process, [&] { return process.mutex.load() != nullptr ? KHA_OK : KHA_NOT_MAPPED; });
  if (begun != KHA_OK) return begun;
  return UnderHistAdminMutex(process, KHA_NOT_MAPPED, [&] { return DetachLocked(process); });
}

}  // namespace kha
