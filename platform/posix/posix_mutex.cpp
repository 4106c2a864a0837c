// The HistAdmin mutex on POSIX: a robust, process-shared, recursive
// pthread mutex in a shared-memory object of its own, with a robust gate
// in front of it that keeps the waiters in line and bounds how long the
// head of the line can be passed over (see SharedMutexBlock).
#include <sys/mman.h>
#include <time.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <new>

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

// Every live handle of this process. Never destroyed: exit handlers and
// the child of a fork may still reach it.
std::mutex& HandlesMutex() {
  static std::mutex* mutex = new std::mutex();
  return *mutex;
}
MutexObject* g_handles = nullptr;  // under HandlesMutex()

void RegisterHandle(MutexObject* mutex) {
  std::lock_guard<std::mutex> lock(HandlesMutex());
  mutex->next = g_handles;
  if (g_handles != nullptr) g_handles->previous = mutex;
  g_handles = mutex;
}

void UnregisterHandle(MutexObject* mutex) {
  std::lock_guard<std::mutex> lock(HandlesMutex());
  if (mutex->previous != nullptr) mutex->previous->next = mutex->next;
  if (mutex->next != nullptr) mutex->next->previous = mutex->previous;
  if (g_handles == mutex) g_handles = mutex->next;
}

// A child of fork is a process of its own that has taken nothing: the
// holds of the parent's threads, the forking one's included, stay the
// parent's. The child's thread carries the forking thread's token, so the
// record of who holds what must go, or the child would take itself for
// the holder and run inside the parent's hold.
void BeforeFork() { HandlesMutex().lock(); }
void AfterForkInParent() { HandlesMutex().unlock(); }
void AfterForkInChild() {
  for (MutexObject* mutex = g_handles; mutex != nullptr; mutex = mutex->next) {
    mutex->holder.store(0, std::memory_order_relaxed);
    mutex->depth = 0;
  }
  HandlesMutex().unlock();
}

}  // namespace

void RegisterBackendForkHandlers() {
  static std::once_flag once;
  std::call_once(once, [] { pthread_atfork(BeforeFork, AfterForkInParent, AfterForkInChild); });
}

namespace {

bool InitialiseMutex(pthread_mutex_t* mutex, int type) {
  pthread_mutexattr_t attributes;
  if (pthread_mutexattr_init(&attributes) != 0) return false;
  const bool ok = pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED) == 0 &&
                  pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST) == 0 &&
                  pthread_mutexattr_settype(&attributes, type) == 0 &&
                  pthread_mutex_init(mutex, &attributes) == 0;
  pthread_mutexattr_destroy(&attributes);
  return ok;
}

bool InitialiseMutexBlock(void* memory) {
  auto* block = static_cast<SharedMutexBlock*>(memory);
  if (!InitialiseMutex(&block->mutex, PTHREAD_MUTEX_RECURSIVE) ||
      !InitialiseMutex(&block->gate, PTHREAD_MUTEX_NORMAL)) {
    return false;
  }
  block->layout = sizeof(SharedMutexBlock);
  __atomic_store_n(&block->ready, kMutexReady, __ATOMIC_RELEASE);
  return true;
}

// How long the head of the line lets others take the mutex before it is
// owed the next turn: long enough that a busy mutex rarely has to be handed
// over (a hand-over costs a wake-up and a context switch), short enough that
// nobody waits noticeably behind busy processes.
constexpr std::chrono::microseconds kHandOffAfter{1000};

// A deadline on the clock pthread_mutex_timedlock measures with. Should the
// wall clock be set meanwhile, the head is passed over a little longer or
// shorter; it is never passed over for good.
timespec DeadlineAfter(std::chrono::microseconds after) {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  const auto total = std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec) +
                     std::chrono::duration_cast<std::chrono::nanoseconds>(after);
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(total);
  timespec deadline{};
  deadline.tv_sec = static_cast<time_t>(seconds.count());
  deadline.tv_nsec = static_cast<long>((total - seconds).count());
  return deadline;
}

// Every wait for the gate or the mutex is made in slices of this length. A
// process killed while it lets go of a robust mutex can leave it free (or
// its death marked) without waking the thread that sleeps on it; seen here
// now and then when holders are killed at random. Each slice looks at the
// mutex afresh, so such a lost wake-up costs one slice instead of the
// waiter's life.
constexpr std::chrono::milliseconds kWaitSlice{10};

// pthread_mutex_lock, one slice at a time.
int LockInSlices(pthread_mutex_t* mutex) {
  for (;;) {
    const timespec deadline = DeadlineAfter(kWaitSlice);
    const int result = pthread_mutex_timedlock(mutex, &deadline);
    if (result != ETIMEDOUT) return result;
  }
}

// Waits in line at the gate, then for the mutex itself (see
// SharedMutexBlock). A gate left held by a dead waiter is taken over like
// the mutex. Returns what the wait for the mutex returned.
int WaitInLine(SharedMutexBlock* block) {
  const int gate = LockInSlices(&block->gate);
  if (gate == EOWNERDEAD) pthread_mutex_consistent(&block->gate);
  const timespec deadline = DeadlineAfter(kHandOffAfter);
  int result = pthread_mutex_timedlock(&block->mutex, &deadline);
  if (result == ETIMEDOUT) {
    __atomic_store_n(&block->hand_off, 1, __ATOMIC_RELEASE);
    result = LockInSlices(&block->mutex);
  }
  // Whoever heads the line lowers the flag once it has the mutex, also a
  // flag left raised by a head that died waiting.
  if (__atomic_load_n(&block->hand_off, __ATOMIC_RELAXED) != 0) {
    __atomic_store_n(&block->hand_off, 0, __ATOMIC_RELEASE);
  }
  if (gate == 0 || gate == EOWNERDEAD) pthread_mutex_unlock(&block->gate);
  return result;
}

}  // namespace

MutexObject* AcquireMutex(const char* windows_name, Disposition disposition, mode_t mode) {
  RegisterBackendForkHandlers();
  auto* mutex = new (std::nothrow) MutexObject();
  if (mutex == nullptr) return nullptr;
  if (!AcquireSharedObject(PosixObjectName(windows_name), disposition, sizeof(SharedMutexBlock),
                           mode, InitialiseMutexBlock, &mutex->object)) {
    delete mutex;
    return nullptr;
  }
  void* memory = MAP_FAILED;
  if (mutex->object.size >= sizeof(SharedMutexBlock)) {
    memory = ::mmap(nullptr, sizeof(SharedMutexBlock), PROT_READ | PROT_WRITE, MAP_SHARED,
                    mutex->object.fd, 0);
  }
  if (memory == MAP_FAILED) {
    ReleaseSharedObject(&mutex->object);
    delete mutex;
    return nullptr;
  }
  auto* block = static_cast<SharedMutexBlock*>(memory);
  if (__atomic_load_n(&block->ready, __ATOMIC_ACQUIRE) != kMutexReady ||
      block->layout != sizeof(SharedMutexBlock)) {
    // Not a mutex of this build: never touched.
    ::munmap(memory, sizeof(SharedMutexBlock));
    ReleaseSharedObject(&mutex->object);
    delete mutex;
    return nullptr;
  }
  mutex->block = block;
  RegisterHandle(mutex);
  return mutex;
}

LockOutcome LockSharedMutex(MutexObject* mutex) {
  const uint64_t self = ThreadToken();
  if (mutex->holder.load(std::memory_order_relaxed) == self) {
    ++mutex->depth;  // re-entry: this thread holds it already
    return LockOutcome::kTaken;
  }
  SharedMutexBlock* block = mutex->block;
  // A free mutex is taken at once, unless the head of the line is owed it.
  int result = EBUSY;
  if (__atomic_load_n(&block->hand_off, __ATOMIC_ACQUIRE) == 0) {
    result = pthread_mutex_trylock(&block->mutex);
  }
  if (result == EBUSY) result = WaitInLine(block);
  if (result != 0 && result != EOWNERDEAD) return LockOutcome::kFailed;
  // A dead owner's holds died with it, also when it was a thread of this
  // process: take the mutex over, as an abandoned mutex is.
  if (result == EOWNERDEAD) pthread_mutex_consistent(&block->mutex);
  mutex->holder.store(self, std::memory_order_relaxed);
  mutex->depth = 1;
  return result == EOWNERDEAD ? LockOutcome::kAbandoned : LockOutcome::kTaken;
}

bool UnlockSharedMutex(MutexObject* mutex) {
  if (mutex->holder.load(std::memory_order_relaxed) != ThreadToken()) return false;
  if (--mutex->depth > 0) return true;
  mutex->holder.store(0, std::memory_order_relaxed);
  return pthread_mutex_unlock(&mutex->block->mutex) == 0;
}

void ReleaseMutex(MutexObject* mutex) {
  if (mutex == nullptr) return;
  if (mutex->block != nullptr) {
    UnregisterHandle(mutex);
    // A thread that still holds the mutex when it closes its handle gives
    // it up now: its memory is about to be unmapped, and the thread's list
    // of robust mutexes may not keep pointing into it.
    while (UnlockSharedMutex(mutex)) {
    }
    ::munmap(mutex->block, sizeof(SharedMutexBlock));
  }
  ReleaseSharedObject(&mutex->object);
  delete mutex;
}

}  // namespace kha::platform::posix
