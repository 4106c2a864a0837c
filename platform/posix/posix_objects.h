// The POSIX backend's kernel objects.
#pragma once

#include <pthread.h>
#include <sys/types.h>

#include <atomic>
#include <cstdint>

#include "platform/platform.h"
#include "platform/posix/shared_object.h"

namespace kha::platform {

// The HistAdmin mutex on POSIX. Every account on the machine may open the
// mutex object, so nothing in its bytes may steer what our processes do:
// the lock itself is kept by the kernel, as an open-file-description lock
// on byte kLockByte of the object, which no other account can forge or
// corrupt (it can hold the lock, as any caller of the interface can, and
// the kernel lets go of it when the holder's process ends). The block
// below holds hints only, read and written as atomics; a stranger who
// rewrites them makes a taker report an abandoned mutex it was not, or
// the line go slower, and nothing else.
//
// The waiting is bounded. A releasing thread may take the lock straight
// back, which keeps a busy mutex fast, but two busy processes could then
// pass it between them while a third waits. So:
//  - the waiters line up on a second lock, byte kGateByte: only the head
//    of the line, which holds the gate, waits for the lock itself;
//  - the head tries for a short while (kHandOffAfter), then raises
//    `hand_off` and waits; while it is raised nobody takes a free lock
//    directly, everyone queues at the gate, so the head is next, and it
//    lowers `hand_off` again once it has the lock.
struct SharedMutexBlock {
  uint32_t ready;     // kMutexReady once the block is initialised
  uint32_t layout;    // sizeof(SharedMutexBlock): another build's layout is refused
  uint32_t held;      // non-zero while a holder holds: a taker that finds it set took over
  uint32_t hand_off;  // raised by a head of the line owed the next turn
};

struct MutexObject {
  posix::SharedObject object;
  SharedMutexBlock* block = nullptr;
  // The threads of this process that use this handle take turns on
  // `local` (a private mutex, never shared with another process); its
  // holder then holds the kernel lock for them all. They wait in a line of
  // their own, as processes do at the gate byte: `local_gate` and
  // `local_hand_off` play the gate and the hand-off flag.
  pthread_mutex_t local = PTHREAD_MUTEX_INITIALIZER;
  pthread_mutex_t local_gate = PTHREAD_MUTEX_INITIALIZER;
  std::atomic<bool> local_hand_off{false};
  // Which thread of this process holds the mutex through this handle
  // (its token, see ThreadToken), and how often: written only by the
  // holder. A thread that holds it already only counts its re-entries;
  // closing the handle gives up the closing thread's holds; an unlock by a
  // thread that holds nothing never reaches the mutex; a thread that ends
  // holding it gives it up as abandoned.
  std::atomic<uint64_t> holder{0};
  uint32_t depth = 0;
  // Every live handle of this process, for the child of a fork and for
  // threads that end.
  MutexObject* previous = nullptr;
  MutexObject* next = nullptr;
};

struct SectionObject {
  posix::SharedObject object;
};

namespace posix {

inline constexpr uint32_t kMutexReady = 0x4B484D4B;  // "KHMK"
// The bytes of the mutex object that carry its two kernel locks.
inline constexpr off_t kLockByte = 0;
inline constexpr off_t kGateByte = 1;

// Registers the backend's own fork handlers once (see RunAroundFork).
void RegisterBackendForkHandlers();

MutexObject* AcquireMutex(const char* windows_name, Disposition disposition, mode_t mode);
// kFailed / false with errno set (EPERM: the thread holds no hold).
LockOutcome LockSharedMutex(MutexObject* mutex);
bool UnlockSharedMutex(MutexObject* mutex);
void ReleaseMutex(MutexObject* mutex);

SectionObject* AcquireSection(const char* windows_name, Disposition disposition, uint32_t size,
                              mode_t mode);
void* MapSection(SectionObject* section, size_t* length);
void ReleaseSection(SectionObject* section);

}  // namespace posix
}  // namespace kha::platform
