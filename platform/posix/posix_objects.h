// The POSIX backend's kernel objects.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>

#include "platform/platform.h"
#include "platform/posix/mutex_block.h"
#include "platform/posix/mutex_seat.h"
#include "platform/posix/shared_object.h"

namespace kha::platform {

// The HistAdmin mutex on POSIX: a lock word in the mutex object's shared
// bytes, taken with one compare-and-swap and let go with another, on which
// waiters sleep (a futex); the kernel is asked only while a waiter waits,
// whether the handle the word names is still alive (mutex_block.h,
// mutex_seat.h). Every account may write the word: what it can do with it
// is make takers wait, as holding the mutex always could, or let two
// holders in, as writing the region always could spoil the tables.
//
// The waiting is bounded. A releasing thread may take the mutex straight
// back, which keeps a busy mutex fast, but two busy processes could then
// pass it between them while a third waits. So a waiter that has waited
// kHandOffAfter heads the line: it writes its holder value into the
// block's Head, and while Head names somebody nobody else takes a free
// mutex; the head takes it next and clears Head. A Head that leaves a free
// mutex untaken for a whole look (its process died, or another account
// wrote it) is cleared by the waiters.
struct MutexObject {
  posix::SharedObject object;
  posix::SharedMutexBlock* block = nullptr;
  // The holder value of this handle's seat, 0 while it has none (a child
  // of fork that could not take one: its takes are refused until one can
  // be taken). Changed only under the handle list's mutex.
  posix::Seat seat;
  std::atomic<uint32_t> self{0};
  // Which thread of this process holds the mutex through this handle
  // (its token, see ThreadToken), and how often: written only by the
  // holder. A thread that holds it already only counts its re-entries;
  // closing the handle gives up the closing thread's holds; an unlock by a
  // thread that holds nothing never reaches the mutex; a thread that ends
  // holding it gives it up as abandoned.
  std::atomic<uint64_t> holder{0};
  uint32_t depth = 0;
  // The thread of this process that heads the line through this handle
  // (Head names the handle's seat then), 0: none.
  std::atomic<uint64_t> heading{0};
  // Every live handle of this process, for the child of a fork and for
  // threads that end.
  MutexObject* previous = nullptr;
  MutexObject* next = nullptr;
};

struct SectionObject {
  posix::SharedObject object;
};

namespace posix {

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
