// Set-up, attach and detach: the exported lifecycle of the region in this
// process. Set-up and attach share one attach count; the handles are
// closed when detach brings it back to 0.
//
// Among the threads of one process these three are serialised by the
// process-local `lifecycle` mutex, taken before the HistAdmin mutex.
#include <mutex>

#include "kestihistadmin.h"
#include "region/layout.h"
#include "region/lifecycle.h"
#include "region/process_state.h"
#include "region/region_view.h"

extern "C" KESTIHISTADMIN_API int32_t KHA_CALL
SetupAndAttachToKestiHistAdminSharedMemory(uint32_t size) {
  using namespace kha;
  ProcessState& process = HistAdminProcess();
  std::lock_guard<std::mutex> serial(process.lifecycle);

  if (const int32_t result = CreateHistAdminMutex(); result != KHA_OK) return result;
  LockHistAdminMutex();
  if (process.attach_count > 0) {
    ++process.attach_count;
    UnlockHistAdminMutex();
    return KHA_OK;
  }
  // A region must at least hold its header and tuning block.
  if (size < kFileSetTableOffset) {
    UnlockHistAdminMutex();
    CloseHistAdminMutex();
    return KHA_NO_SPACE;
  }
  if (const int32_t result = CreateHistAdminMapping(size); result != KHA_OK) {
    UnlockHistAdminMutex();
    CloseHistAdminMutex();
    return result;
  }
  if (const int32_t result = MapHistAdminView(); result != KHA_OK) {
    CloseHistAdminMapping();
    UnlockHistAdminMutex();
    CloseHistAdminMutex();
    return result;
  }
  // Another process may have created the section already, smaller than
  // asked: the region may never claim more bytes than exist.
  if (process.view_length.load() < size) {
    UnmapHistAdminView();
    CloseHistAdminMapping();
    UnlockHistAdminMutex();
    CloseHistAdminMutex();
    return KHA_CREATE_MAPPING_FAILED;
  }
  RegionHeader* header = HistAdminHeader();
  header->RegionSize = size;
  header->ReposHighWater = 0;
  header->NumberRepos = 0;
  header->FSHighWater = 0;
  header->NumberFileSets = 0;
  ++process.attach_count;
  UnlockHistAdminMutex();
  return KHA_OK;
}

extern "C" KESTIHISTADMIN_API int32_t KHA_CALL AttachToKestiHistAdminSharedMemory(void) {
  using namespace kha;
  ProcessState& process = HistAdminProcess();
  std::lock_guard<std::mutex> serial(process.lifecycle);

  if (const int32_t result = OpenHistAdminMutex(); result != KHA_OK) return result;
  LockHistAdminMutex();
  if (process.attach_count > 0) {
    ++process.attach_count;
    UnlockHistAdminMutex();
    return KHA_OK;
  }
  if (const int32_t result = OpenHistAdminMapping(); result != KHA_OK) {
    UnlockHistAdminMutex();
    CloseHistAdminMutex();
    return result;
  }
  if (const int32_t result = MapHistAdminView(); result != KHA_OK) {
    CloseHistAdminMapping();
    UnlockHistAdminMutex();
    CloseHistAdminMutex();
    return result;
  }
  ++process.attach_count;
  UnlockHistAdminMutex();
  return KHA_OK;
}

extern "C" KESTIHISTADMIN_API int32_t KHA_CALL DetachFromKestiHistAdminSharedMemory(void) {
  using namespace kha;
  ProcessState& process = HistAdminProcess();
  std::lock_guard<std::mutex> serial(process.lifecycle);

  LockHistAdminMutex();
  if (process.attach_count == 0) {
    UnlockHistAdminMutex();
    return KHA_NOT_MAPPED;
  }
  if (--process.attach_count > 0) {
    UnlockHistAdminMutex();
    return KHA_OK;
  }
  if (const int32_t result = UnmapHistAdminView(); result != KHA_OK) {
    UnlockHistAdminMutex();
    return result;
  }
  CloseHistAdminMapping();
  UnlockHistAdminMutex();
  CloseHistAdminMutex();
  return KHA_OK;
}
