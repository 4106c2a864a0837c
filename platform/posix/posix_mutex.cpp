// The HistAdmin mutex on POSIX: a lock word in user space, taken and let
// go without a system call unless somebody waits (see MutexObject and
// mutex_block.h).
#include <linux/futex.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <mutex>
#include <new>
#include <string>

#include "platform/posix/handle_list.h"
#include "platform/posix/posix_objects.h"

namespace kha::platform::posix {
namespace {

std::atomic<uint64_t> g_last_thread_token{0};

// A number for the calling thread, never given to another thread of this
// process (thread ids are reused as soon as a thread ends, and a holder
// that ended must never be mistaken for a live thread). 0 is no thread.
uint64_t ThreadToken() {
  // Initial-exec: a plain thread-pointer access also inside the shared
  // library, where the lock's hot path reads it.
  static thread_local uint64_t token __attribute__((tls_model("initial-exec"))) = 0;
  if (token == 0) token = g_last_thread_token.fetch_add(1, std::memory_order_relaxed) + 1;
  return token;
}

constinit HandleList<MutexObject> g_handles;

using Clock = std::chrono::steady_clock;  // the monotonic clock, which nobody sets

// How long a waiter lets others take the mutex before it heads the line:
// long enough that a busy mutex rarely has to be handed over (a hand-over
// costs a wake-up and a context switch), short enough that nobody waits
// noticeably behind busy processes.
constexpr std::chrono::microseconds kHandOffAfter{1000};
// How often a waiter asks the kernel whether the holder is still alive,
// and how long a free mutex may stay owed to a head that does not take
// it. A holder that died is taken over within about this time.
constexpr std::chrono::milliseconds kLookEvery{20};

uint32_t Load(const uint32_t& word) { return __atomic_load_n(&word, __ATOMIC_ACQUIRE); }

// One compare-and-swap of `word`; `expected` gets what was there on failure.
bool Swap(uint32_t& word, uint32_t& expected, uint32_t desired) {
  return __atomic_compare_exchange_n(&word, &expected, desired, false, __ATOMIC_ACQ_REL,
                                     __ATOMIC_ACQUIRE);
}

// Sleeps while `word` holds `expected`, for `timeout` at most: 0, or an
// errno value for a failure other than the ends of a sleep (woken, the
// word changed, a signal, the time-out). Shared between processes.
int SleepOn(uint32_t& word, uint32_t expected, Clock::duration timeout) {
  const auto nanoseconds =
      std::max<int64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(timeout).count(), 1);
  const timespec relative{static_cast<time_t>(nanoseconds / 1'000'000'000),
                          static_cast<long>(nanoseconds % 1'000'000'000)};
  if (::syscall(SYS_futex, &word, FUTEX_WAIT, expected, &relative, nullptr, 0) == 0) return 0;
  return errno == EAGAIN || errno == EINTR || errno == ETIMEDOUT ? 0 : errno;
}

void WakeSleepers(uint32_t& word, bool all) {
  ::syscall(SYS_futex, &word, FUTEX_WAKE, all ? INT_MAX : 1, nullptr, nullptr, 0);
}

// The calling thread (`token`) of the handle with holder value `self`
// heads the line, unless another waiter does.
bool TryToHead(MutexObject* mutex, uint32_t self, uint64_t token) {
  uint64_t nobody = 0;
  if (!mutex->heading.compare_exchange_strong(nobody, token)) return false;
  uint32_t free = 0;
  if (Swap(mutex->block->Head, free, self)) return true;
  mutex->heading.store(0);
  return false;
}

void LeaveHead(MutexObject* mutex, uint32_t self, uint64_t token) {
  uint64_t heading = token;
  if (!mutex->heading.compare_exchange_strong(heading, 0)) return;
  Swap(mutex->block->Head, self, 0);  // unless somebody cleared it meanwhile
}

// The take of a waiter: until the mutex is free and not owed to another,
// or its holder is gone. 0 (with `abandoned`), or an errno value.
int TakeWaiting(MutexObject* mutex, uint32_t self, uint64_t token, bool* abandoned) {
  SharedMutexBlock* block = mutex->block;
  const Clock::time_point started = Clock::now();
  // The first look is at once: a holder that died is taken over without a
  // wait, and the same way however fast this thread runs.
  Clock::time_point next_look = started;
  bool heading = false;
  uint32_t owed_to = 0;  // the Head seen owed a free mutex, since owed_since
  Clock::time_point owed_since{};
  const auto finish = [&](int result) {
    if (heading) LeaveHead(mutex, self, token);
    return result;
  };
  for (;;) {
    uint32_t word = Load(block->Lock);
    const uint32_t head = Load(block->Head);
    const Clock::time_point now = Clock::now();
    const uint32_t holder = word & kHolderMask;
    if (holder == 0 && (head == 0 || heading)) {
      // Taken with kWaiters: others may sleep on it, and its release wakes
      // the next of them.
      if (Swap(block->Lock, word, self | kWaiters)) {
        *abandoned = (word & kAbandoned) != 0;
        return finish(0);
      }
      continue;
    }
    if (holder == 0) {
      // Free, and owed to the head of the line.
      if (head != owed_to) {
        owed_to = head;
        owed_since = now;
      } else if (now - owed_since >= kLookEvery) {
        uint32_t stale = head;
        Swap(block->Head, stale, 0);
        owed_to = 0;
        continue;
      }
    } else if (now >= next_look) {
      next_look = now + kLookEvery;
      bool gone = false;
      if (const int error = HolderIsGone(mutex->seat, block, holder, &gone); error != 0) {
        return finish(error);
      }
      if (gone) {
        if (Swap(block->Lock, word, self | kWaiters)) {
          *abandoned = true;
          return finish(0);
        }
        continue;
      }
    }
    if ((word & kWaiters) == 0) {
      if (!Swap(block->Lock, word, word | kWaiters)) continue;
      word |= kWaiters;
    }
    // Until woken, or the next moment to decide something: to head the
    // line, to look at the holder, to give up on a head.
    Clock::time_point until = next_look;
    if (!heading) {
      const Clock::time_point owed_at = started + kHandOffAfter;
      until = std::min(until, now < owed_at ? owed_at : now + kHandOffAfter);
    }
    if (holder == 0) until = std::min(until, owed_since + kLookEvery);
    if (const int error = SleepOn(block->Lock, word, until - now); error != 0) return finish(error);
    if (!heading && Clock::now() - started >= kHandOffAfter) {
      heading = TryToHead(mutex, self, token);
    }
  }
}

// Lets go of the calling thread's outermost hold, leaving `left` in the
// lock word (0, or kAbandoned for a thread that ended holding). A word
// that no longer names this handle is left alone: a waiter took the
// mutex over, or another account wrote it.
void GiveUpHold(MutexObject* mutex, uint32_t left) {
  mutex->depth = 0;
  mutex->holder.store(0, std::memory_order_relaxed);
  const uint32_t self = mutex->self.load(std::memory_order_relaxed);
  SharedMutexBlock* block = mutex->block;
  uint32_t word = self;  // the usual case: nobody waits
  for (;;) {
    if (Swap(block->Lock, word, left)) break;
    if ((word & kHolderMask) != self) return;
  }
  if ((word & kWaiters) != 0) WakeSleepers(block->Lock, Load(block->Head) != 0);
}

// A thread that ends while it holds the mutex gives up its holds as
// abandoned, for every process: the next taker reports it so.
struct HoldsOfEndingThread {
  ~HoldsOfEndingThread() {
    const uint64_t self = ThreadToken();
    std::lock_guard<std::mutex> lock(g_handles.Mutex());
    g_handles.Walk([self](MutexObject* mutex) {
      if (mutex->holder.load(std::memory_order_relaxed) == self) GiveUpHold(mutex, kAbandoned);
    });
  }
};

void NoteThisThreadHolds() {
  // The flag spares every later take the lookup of `holds` (a call in a
  // shared library).
  static thread_local bool noted __attribute__((tls_model("initial-exec"))) = false;
  if (noted) return;
  static thread_local HoldsOfEndingThread holds;
  (void)&holds;
  noted = true;
}

// Takes a seat for a handle that has none; the caller holds the handle
// list's mutex. 0 or an errno value.
int TakeSeatLocked(MutexObject* mutex) {
  if (mutex->self.load(std::memory_order_relaxed) != 0) return 0;
  if (const int error = TakeSeat(mutex->object, mutex->block, &mutex->seat); error != 0) {
    return error;
  }
  mutex->self.store(mutex->seat.holder, std::memory_order_release);
  return 0;
}

// A child of fork is a process of its own that has taken nothing: the
// holds of the parent's threads, the forking one's included, stay the
// parent's. Each handle leaves the parent's seat to the parent (a child
// that kept its description would keep a dead parent looking alive) and
// takes one of its own; a handle that cannot have one has none, and its
// takes are refused until it can, never run inside the parent's hold.
void BeforeFork() {
  BeforeForkOfObjects();
  g_handles.Mutex().lock();
}
void AfterForkInParent() {
  g_handles.Mutex().unlock();
  AfterForkOfObjectsInParent();
}
void AfterForkInChild() {
  g_handles.Walk([](MutexObject* mutex) {
    mutex->holder.store(0, std::memory_order_relaxed);
    mutex->depth = 0;
    mutex->heading.store(0, std::memory_order_relaxed);
    mutex->self.store(0, std::memory_order_relaxed);
    LeaveSeat(&mutex->seat);
  });
  AfterForkOfObjectsInChild();
  g_handles.Walk([](MutexObject* mutex) { (void)TakeSeatLocked(mutex); });
  g_handles.Mutex().unlock();
}

}  // namespace

void RegisterBackendForkHandlers() {
  static std::once_flag once;
  std::call_once(once, [] { pthread_atfork(BeforeFork, AfterForkInParent, AfterForkInChild); });
}

MutexObject* AcquireMutex(const char* windows_name, Disposition disposition, mode_t mode) {
  RegisterBackendForkHandlers();
  // The name first: its allocation may throw, and nothing is held yet.
  const std::string name = PosixObjectName(windows_name);
  auto* mutex = new (std::nothrow) MutexObject();
  if (mutex == nullptr) {
    errno = ENOMEM;
    return nullptr;
  }
  // A new object's zero bytes are a free mutex nobody waits for.
  if (!AcquireSharedObject(name, disposition, sizeof(SharedMutexBlock), mode, nullptr,
                           &mutex->object)) {
    const int saved = errno;
    delete mutex;
    errno = saved;
    return nullptr;
  }
  // The object's size is its layout: another build's is never used.
  int error = EPROTO;
  if (mutex->object.size == sizeof(SharedMutexBlock)) {
    void* memory = ::mmap(nullptr, sizeof(SharedMutexBlock), PROT_READ | PROT_WRITE, MAP_SHARED,
                          mutex->object.fd, 0);
    if (memory == MAP_FAILED) {
      error = errno;
    } else {
      mutex->block = static_cast<SharedMutexBlock*>(memory);
      std::lock_guard<std::mutex> lock(g_handles.Mutex());
      error = TakeSeatLocked(mutex);
      if (error != 0) ::munmap(memory, sizeof(SharedMutexBlock));
    }
  }
  if (error != 0) {
    ReleaseSharedObject(&mutex->object);
    delete mutex;
    errno = error;
    return nullptr;
  }
  g_handles.Add(mutex);
  return mutex;
}

LockOutcome LockSharedMutex(MutexObject* mutex) {
  const uint64_t token = ThreadToken();
  if (mutex->holder.load(std::memory_order_relaxed) == token) {
    ++mutex->depth;  // re-entry: this thread holds it already
    return LockOutcome::kTaken;
  }
  uint32_t self = mutex->self.load(std::memory_order_acquire);
  if (self == 0) {
    std::lock_guard<std::mutex> lock(g_handles.Mutex());
    if (const int error = TakeSeatLocked(mutex); error != 0) {
      errno = error;
      return LockOutcome::kFailed;
    }
    self = mutex->self.load(std::memory_order_relaxed);
  }
  bool abandoned = false;
  uint32_t free = 0;
  if (Load(mutex->block->Head) != 0 || !Swap(mutex->block->Lock, free, self)) {
    if (const int error = TakeWaiting(mutex, self, token, &abandoned); error != 0) {
      errno = error;
      return LockOutcome::kFailed;
    }
  }
  NoteThisThreadHolds();
  mutex->holder.store(token, std::memory_order_relaxed);
  mutex->depth = 1;
  return abandoned ? LockOutcome::kAbandoned : LockOutcome::kTaken;
}

bool UnlockSharedMutex(MutexObject* mutex) {
  if (mutex->holder.load(std::memory_order_relaxed) != ThreadToken()) {
    errno = EPERM;  // what pthread_mutex_unlock says of a mutex another thread owns
    return false;
  }
  if (--mutex->depth == 0) GiveUpHold(mutex, 0);
  return true;
}

void ReleaseMutex(MutexObject* mutex) {
  if (mutex == nullptr) return;
  if (mutex->block != nullptr) {
    g_handles.Remove(mutex);
    // A thread that still holds the mutex when it closes its handle gives
    // it up now; a hold of another thread of this process is taken over
    // by the next waiter once the seat has gone.
    while (UnlockSharedMutex(mutex)) {
    }
    LeaveSeat(&mutex->seat);
    ::munmap(mutex->block, sizeof(SharedMutexBlock));
  }
  ReleaseSharedObject(&mutex->object);
  delete mutex;
}

}  // namespace kha::platform::posix
