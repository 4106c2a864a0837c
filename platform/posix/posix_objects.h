// The POSIX backend's kernel objects.
#pragma once

#include <pthread.h>
#include <sys/types.h>

#include <atomic>
#include <cstdint>

#include "platform/platform.h"
#include "platform/posix/shared_object.h"

namespace kha::platform {

// Stands in for a security descriptor: the permission bits the objects
// are created with. A present null DACL means every account: 0666.
struct SecurityDescriptor {
  bool initialised = false;
  mode_t mode = 0600;
};

// The shared-memory contents of the mutex object. `ready` is published
// last, after the mutex is fully initialised; an all-zero object is never
// taken for a valid mutex.
//
// `mutex` is the HistAdmin mutex itself. A pthread mutex lets a thread that
// has just released it take it again before a woken waiter runs, so two
// busy processes can pass it between them for as long as they like while
// a third waits. `gate` puts the waiters in line: a thread waits for
// `mutex` only while it holds `gate`, and lets go of `gate` once it has
// `mutex`; a thread coming back for `mutex` queues at `gate` behind the
// waiter that holds it. Both are robust: a holder's death never blocks the
// line. `waiters` counts the threads in line; while it is 0 a thread takes
// a free `mutex` at once without queueing, the uncontended case costing
// no more than the mutex itself. (A waiter that dies in line leaves the
// count raised: everyone then queues, which is slower, never wrong.)
struct SharedMutexBlock {
  uint32_t ready;
  uint32_t layout;  // sizeof(SharedMutexBlock): another build's layout is refused
  pthread_mutex_t mutex;
  pthread_mutex_t gate;
  uint32_t waiters;
};

struct MutexObject {
  posix::SharedObject object;
  SharedMutexBlock* block = nullptr;
  // Which thread of this process holds the mutex through this handle
  // (its token, see ThreadToken), and how often: written only by the
  // holder. A thread that holds it already only counts its re-entries;
  // closing the handle gives up the closing thread's holds; an unlock by a
  // thread that holds nothing never reaches the mutex.
  std::atomic<uint64_t> holder{0};
  uint32_t depth = 0;
};

struct SectionObject {
  posix::SharedObject object;
};

namespace posix {

inline constexpr uint32_t kMutexReady = 0x4B484D58;  // "KHMX"

MutexObject* AcquireMutex(const char* windows_name, Disposition disposition, mode_t mode);
LockOutcome LockSharedMutex(MutexObject* mutex);
bool UnlockSharedMutex(MutexObject* mutex);
void ReleaseMutex(MutexObject* mutex);

SectionObject* AcquireSection(const char* windows_name, Disposition disposition, uint32_t size,
                              mode_t mode);
void* MapSection(SectionObject* section, size_t* length);
void ReleaseSection(SectionObject* section);

}  // namespace posix
}  // namespace kha::platform
