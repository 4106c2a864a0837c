// The HistAdmin mutex on POSIX: an open-file-description lock on the mutex
// object, kept by the kernel, with a line in front of it that bounds how
// long the head of the line can be passed over, and a private mutex per
// handle for the threads of this process (see SharedMutexBlock).
#include <fcntl.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
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

uint32_t LoadHint(const uint32_t& word) { return __atomic_load_n(&word, __ATOMIC_ACQUIRE); }
void StoreHint(uint32_t& word, uint32_t value) { __atomic_store_n(&word, value, __ATOMIC_RELEASE); }

// One byte of the mutex object, locked or unlocked as an open file
// description's lock: 0 or an errno value. EINTR is waited through.
int LockByte(int fd, off_t byte, short type, bool wait) {
  struct flock request {};
  request.l_type = type;
  request.l_whence = SEEK_SET;
  request.l_start = byte;
  request.l_len = 1;
  for (;;) {
    if (::fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &request) == 0) return 0;
    if (errno != EINTR) return errno;
  }
}

bool Busy(int error) { return error == EAGAIN || error == EACCES; }

// How long the head of the line lets others take the lock before it is
// owed the next turn: long enough that a busy mutex rarely has to be
// handed over (a hand-over costs a wake-up and a context switch), short
// enough that nobody waits noticeably behind busy processes. Measured on
// the monotonic clock, which nobody sets.
constexpr std::chrono::microseconds kHandOffAfter{1000};
constexpr timespec kRetryPause{0, 50'000};

// The head of a line: tries `attempt` (0, kBusy or an errno value) for
// kHandOffAfter, then calls `raise` (the head is owed the next turn) and
// waits with `wait`. 0 or an errno value.
constexpr int kBusy = EBUSY;

template <typename Attempt, typename Raise, typename Wait>
int TakeAsHead(Attempt&& attempt, Raise&& raise, Wait&& wait) {
  const auto owed_at = std::chrono::steady_clock::now() + kHandOffAfter;
  for (;;) {
    if (const int result = attempt(); result != kBusy) return result;
    if (std::chrono::steady_clock::now() >= owed_at) {
      raise();
      return wait();
    }
    ::nanosleep(&kRetryPause, nullptr);
  }
}

// Waits in line at the gate, then for the lock itself. 0 or an errno value.
int WaitInLine(MutexObject* mutex) {
  const int fd = mutex->object.fd;
  SharedMutexBlock* block = mutex->block;
  if (const int gate = LockByte(fd, kGateByte, F_WRLCK, true); gate != 0) return gate;
  const int result = TakeAsHead(
      [fd] {
        const int attempt = LockByte(fd, kLockByte, F_WRLCK, false);
        return Busy(attempt) ? kBusy : attempt;
      },
      [block] { StoreHint(block->hand_off, 1); },
      [fd] { return LockByte(fd, kLockByte, F_WRLCK, true); });
  // Whoever heads the line lowers the flag once it has the lock, also a
  // flag left raised by a head that died waiting.
  if (result == 0 && LoadHint(block->hand_off) != 0) StoreHint(block->hand_off, 0);
  (void)LockByte(fd, kGateByte, F_UNLCK, false);
  return result;
}

// `local` for the calling thread, in the line of this process's threads,
// as WaitInLine for processes. 0 or an errno value.
int TakeLocal(MutexObject* mutex) {
  if (!mutex->local_hand_off.load(std::memory_order_acquire)) {
    const int result = pthread_mutex_trylock(&mutex->local);
    if (result != EBUSY) return result;
  }
  if (const int gate = pthread_mutex_lock(&mutex->local_gate); gate != 0) return gate;
  const int result =
      TakeAsHead([mutex] { return pthread_mutex_trylock(&mutex->local); },
                 [mutex] { mutex->local_hand_off.store(true, std::memory_order_release); },
                 [mutex] { return pthread_mutex_lock(&mutex->local); });
  if (result == 0) mutex->local_hand_off.store(false, std::memory_order_release);
  pthread_mutex_unlock(&mutex->local_gate);
  return result;
}

// The kernel lock for the threads of this process that use `mutex`; the
// caller holds `local`. 0 or an errno value.
int TakeKernelLock(MutexObject* mutex) {
  // A free lock is taken at once, unless the head of the line is owed it.
  if (LoadHint(mutex->block->hand_off) == 0) {
    const int result = LockByte(mutex->object.fd, kLockByte, F_WRLCK, false);
    if (!Busy(result)) return result;
  }
  return WaitInLine(mutex);
}

// Lets go of the calling thread's outermost hold. `abandoned` leaves the
// holder's mark standing, so that the next taker reports the mutex
// abandoned, as a mutex whose owning thread ended is.
bool GiveUpHold(MutexObject* mutex, bool abandoned) {
  mutex->depth = 0;
  mutex->holder.store(0, std::memory_order_relaxed);
  if (!abandoned) StoreHint(mutex->block->held, 0);
  const bool unlocked = LockByte(mutex->object.fd, kLockByte, F_UNLCK, false) == 0;
  pthread_mutex_unlock(&mutex->local);
  return unlocked;
}

// A thread that ends while it holds the mutex gives up its holds as
// abandoned, for every process: the next taker reports it so.
struct HoldsOfEndingThread {
  ~HoldsOfEndingThread() {
    const uint64_t self = ThreadToken();
    std::lock_guard<std::mutex> lock(g_handles.Mutex());
    g_handles.Walk([self](MutexObject* mutex) {
      if (mutex->holder.load(std::memory_order_relaxed) == self) GiveUpHold(mutex, true);
    });
  }
};

void NoteThisThreadHolds() {
  static thread_local HoldsOfEndingThread holds;
  (void)&holds;
}

// A child of fork is a process of its own that has taken nothing: the
// holds of the parent's threads, the forking one's included, stay the
// parent's. Each handle gets its own open file description (so the
// parent's kernel lock is not the child's too) and a fresh private mutex
// (the old one may be held by a thread the child does not have), and the
// record of who holds what goes, or the child would take itself for the
// holder and run inside the parent's hold.
void BeforeFork() {
  BeforeForkOfObjects();
  g_handles.Mutex().lock();
}
void AfterForkInParent() {
  g_handles.Mutex().unlock();
  AfterForkOfObjectsInParent();
}
void AfterForkInChild() {
  AfterForkOfObjectsInChild();
  g_handles.Walk([](MutexObject* mutex) {
    mutex->holder.store(0, std::memory_order_relaxed);
    mutex->depth = 0;
    pthread_mutex_init(&mutex->local, nullptr);
    pthread_mutex_init(&mutex->local_gate, nullptr);
    mutex->local_hand_off.store(false, std::memory_order_relaxed);
  });
  g_handles.Mutex().unlock();
}

}  // namespace

void RegisterBackendForkHandlers() {
  static std::once_flag once;
  std::call_once(once, [] { pthread_atfork(BeforeFork, AfterForkInParent, AfterForkInChild); });
}

namespace {

bool InitialiseMutexBlock(void* memory) {
  auto* block = static_cast<SharedMutexBlock*>(memory);
  block->layout = sizeof(SharedMutexBlock);
  __atomic_store_n(&block->ready, kMutexReady, __ATOMIC_RELEASE);
  return true;
}

}  // namespace

MutexObject* AcquireMutex(const char* windows_name, Disposition disposition, mode_t mode) {
  RegisterBackendForkHandlers();
  // The name first: its allocation may throw, and nothing is held yet.
  const std::string name = PosixObjectName(windows_name);
  auto* mutex = new (std::nothrow) MutexObject();
  if (mutex == nullptr) {
    errno = ENOMEM;
    return nullptr;
  }
  if (!AcquireSharedObject(name, disposition, sizeof(SharedMutexBlock), mode, InitialiseMutexBlock,
                           &mutex->object)) {
    const int saved = errno;
    delete mutex;
    errno = saved;
    return nullptr;
  }
  void* memory = MAP_FAILED;
  int error = EPROTO;  // a mutex object that is not one of this build
  if (mutex->object.size >= sizeof(SharedMutexBlock)) {
    memory = ::mmap(nullptr, sizeof(SharedMutexBlock), PROT_READ | PROT_WRITE, MAP_SHARED,
                    mutex->object.fd, 0);
    if (memory == MAP_FAILED) error = errno;
  }
  auto* block = static_cast<SharedMutexBlock*>(memory);
  if (memory != MAP_FAILED && (__atomic_load_n(&block->ready, __ATOMIC_ACQUIRE) != kMutexReady ||
                               block->layout != sizeof(SharedMutexBlock))) {
    // Not a mutex of this build: never used.
    ::munmap(memory, sizeof(SharedMutexBlock));
    memory = MAP_FAILED;
  }
  if (memory == MAP_FAILED) {
    ReleaseSharedObject(&mutex->object);
    delete mutex;
    errno = error;
    return nullptr;
  }
  mutex->block = block;
  g_handles.Add(mutex);
  return mutex;
}

LockOutcome LockSharedMutex(MutexObject* mutex) {
  const uint64_t self = ThreadToken();
  if (mutex->holder.load(std::memory_order_relaxed) == self) {
    ++mutex->depth;  // re-entry: this thread holds it already
    return LockOutcome::kTaken;
  }
  if (const int local = TakeLocal(mutex); local != 0) {
    errno = local;
    return LockOutcome::kFailed;
  }
  if (const int kernel = TakeKernelLock(mutex); kernel != 0) {
    pthread_mutex_unlock(&mutex->local);
    errno = kernel;
    return LockOutcome::kFailed;
  }
  NoteThisThreadHolds();
  // A holder that died left its mark: its holds died with it, also when it
  // was a thread of this process. The mutex is taken over, as an abandoned
  // mutex is.
  const bool abandoned = __atomic_exchange_n(&mutex->block->held, 1, __ATOMIC_ACQ_REL) != 0;
  mutex->holder.store(self, std::memory_order_relaxed);
  mutex->depth = 1;
  return abandoned ? LockOutcome::kAbandoned : LockOutcome::kTaken;
}

bool UnlockSharedMutex(MutexObject* mutex) {
  if (mutex->holder.load(std::memory_order_relaxed) != ThreadToken()) {
    errno = EPERM;  // what pthread_mutex_unlock says of a mutex another thread owns
    return false;
  }
  if (--mutex->depth > 0) return true;
  return GiveUpHold(mutex, false);
}

void ReleaseMutex(MutexObject* mutex) {
  if (mutex == nullptr) return;
  if (mutex->block != nullptr) {
    g_handles.Remove(mutex);
    // A thread that still holds the mutex when it closes its handle gives
    // it up now; closing the descriptor would drop the kernel lock anyway.
    while (UnlockSharedMutex(mutex)) {
    }
    ::munmap(mutex->block, sizeof(SharedMutexBlock));
  }
  ReleaseSharedObject(&mutex->object);
  pthread_mutex_destroy(&mutex->local);
  pthread_mutex_destroy(&mutex->local_gate);
  delete mutex;
}

}  // namespace kha::platform::posix
