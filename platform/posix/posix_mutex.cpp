// The HistAdmin mutex on POSIX: a robust, process-shared, recursive
// pthread mutex in a shared-memory object of its own.
#include <sys/mman.h>

#include <cerrno>
#include <new>

#include "platform/posix/posix_objects.h"

namespace kha::platform::posix {
namespace {

bool InitialiseMutexBlock(void* memory) {
  auto* block = static_cast<SharedMutexBlock*>(memory);
  pthread_mutexattr_t attributes;
  if (pthread_mutexattr_init(&attributes) != 0) return false;
  bool ok = pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED) == 0 &&
            pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST) == 0 &&
            pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE) == 0 &&
            pthread_mutex_init(&block->mutex, &attributes) == 0;
  pthread_mutexattr_destroy(&attributes);
  if (!ok) return false;
  block->layout = sizeof(SharedMutexBlock);
  __atomic_store_n(&block->ready, kMutexReady, __ATOMIC_RELEASE);
  return true;
}

}  // namespace

MutexObject* AcquireMutex(const char* windows_name, Disposition disposition, mode_t mode) {
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
  return mutex;
}

LockOutcome LockSharedMutex(MutexObject* mutex) {
  const int result = pthread_mutex_lock(&mutex->block->mutex);
  if (result != 0 && result != EOWNERDEAD) return LockOutcome::kFailed;
  if (result == EOWNERDEAD) {
    // The owner died holding it: take it over, as an abandoned mutex is.
    // Its holds died with it, also when it was a thread of this process.
    pthread_mutex_consistent(&mutex->block->mutex);
    mutex->depth = 0;
  }
  const std::thread::id self = std::this_thread::get_id();
  if (mutex->holder.load(std::memory_order_relaxed) != self) {
    mutex->holder.store(self, std::memory_order_relaxed);
    mutex->depth = 0;
  }
  ++mutex->depth;
  return result == EOWNERDEAD ? LockOutcome::kAbandoned : LockOutcome::kTaken;
}

bool UnlockSharedMutex(MutexObject* mutex) {
  if (mutex->holder.load(std::memory_order_relaxed) != std::this_thread::get_id()) return false;
  if (--mutex->depth == 0) mutex->holder.store(std::thread::id(), std::memory_order_relaxed);
  return pthread_mutex_unlock(&mutex->block->mutex) == 0;
}

void ReleaseMutex(MutexObject* mutex) {
  if (mutex == nullptr) return;
  if (mutex->block != nullptr) {
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
