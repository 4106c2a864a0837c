// The POSIX backend's kernel objects.
#pragma once

#include <pthread.h>
#include <sys/types.h>

#include <atomic>
#include <cstdint>

#include "platform/platform.h"
#include "platform/posix/shared_object.h"

namespace kha::platform {

// The shared-memory contents of the mutex object. `ready` is published
// last, after the mutex is fully initialised; an all-zero object is never
// taken for a valid mutex.
//
// `mutex` is the HistAdmin mutex itself. A pthread mutex lets a thread that
// has just released it take it again before a woken waiter runs. That is
// what keeps a busy mutex fast (the releasing thread goes on with a warm
// cache instead of waiting for a context switch), but two busy processes
// could then pass it between them for as long as they like while a third
// waits. So the waiting is bounded:
//  - `gate` puts the waiters in line: a thread waits for `mutex` only while
//    it holds `gate`, and lets go of `gate` once it has `mutex`. Only the
//    head of the line waits for the mutex itself.
//  - The head waits a short while (kHandOffAfter) and then raises
//    `hand_off`. While it is raised, nobody takes a free `mutex` directly:
//    every thread queues at `gate`, so the next one to get `mutex` is the
//    head, which lowers `hand_off` again.
// Both mutexes are robust: a holder's death never blocks the line. A head
// that dies with `hand_off` raised leaves it to the next head, which lowers
// it once it has the mutex.
struct SharedMutexBlock {
  uint32_t ready;
  uint32_t layout;  // sizeof(SharedMutexBlock): another build's layout is refused
  pthread_mutex_t mutex;
  pthread_mutex_t gate;
  uint32_t hand_off;
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
  // Every live handle of this process, for the child of a fork.
  MutexObject* previous = nullptr;
  MutexObject* next = nullptr;
};

struct SectionObject {
  posix::SharedObject object;
};

namespace posix {

inline constexpr uint32_t kMutexReady = 0x4B484D58;  // "KHMX"

// Registers the backend's own fork handlers once (see RunAroundFork).
void RegisterBackendForkHandlers();

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
