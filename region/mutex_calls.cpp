#include "region/mutex_calls.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <new>
#include <thread>

#include "platform/platform.h"

namespace kha {
namespace {

constinit std::atomic<bool> g_fenced_calls{false};

// A thread's record, on the heap and in the list from the thread's first
// mark to its end. Not a thread-local object: where thread-locals are
// emulated, their storage may be gone before their destructors run.
struct ThreadRecord {
  std::atomic<uint32_t> inside{0};  // nested takes and releases under way
  ThreadRecord* previous = nullptr;
  ThreadRecord* next = nullptr;
};

// The record of a thread whose own could not be made: shared, and so
// marked with locked instructions (the fenced marks) from then on.
constinit ThreadRecord g_shared_record;

// The threads that have marked themselves and have not ended. Never
// destroyed: exit handlers and the child of a fork may still reach it.
std::mutex& ListMutex() {
  static std::mutex* mutex = new std::mutex();
  return *mutex;
}
constinit ThreadRecord* g_first = nullptr;

// Initial-exec: in a shared library as well, the hot path reaches it
// through the thread pointer, without a call.
constinit thread_local ThreadRecord* t_record __attribute__((tls_model("initial-exec"))) = nullptr;

void Link(ThreadRecord* record) {
  record->previous = nullptr;
  record->next = g_first;
  if (g_first != nullptr) g_first->previous = record;
  g_first = record;
}

void Unlink(ThreadRecord* record) {
  if (record->previous != nullptr) record->previous->next = record->next;
  if (record->next != nullptr) record->next->previous = record->previous;
  if (g_first == record) g_first = record->next;
  record->previous = record->next = nullptr;
}

void EndOfThread(void* value) {
  auto* record = static_cast<ThreadRecord*>(value);
  {
    std::lock_guard<std::mutex> lock(ListMutex());
    Unlink(record);
  }
  delete record;
  t_record = nullptr;  // a call later in the thread's end lists it afresh
}

ThreadRecord* ListThisThread() noexcept {
  auto* record = new (std::nothrow) ThreadRecord();
  if (record == nullptr) {
    g_fenced_calls.store(true);
    return t_record = &g_shared_record;
  }
  try {
    std::lock_guard<std::mutex> lock(ListMutex());
    Link(record);
  } catch (...) {
    delete record;
    g_fenced_calls.store(true);
    return t_record = &g_shared_record;
  }
  // Without a call at its end the record stays listed, never inside again.
  (void)platform::CallAtThreadEnd(EndOfThread, record);
  return t_record = record;
}

bool OtherThreadInside() {
  std::lock_guard<std::mutex> lock(ListMutex());
  if (g_shared_record.inside.load(std::memory_order_acquire) != 0) return true;
  for (ThreadRecord* record = g_first; record != nullptr; record = record->next) {
    if (record != t_record && record->inside.load(std::memory_order_acquire) != 0) return true;
  }
  return false;
}

}  // namespace

MutexCall::MutexCall() noexcept {
  ThreadRecord* record = t_record;
  if (record == nullptr) record = ListThisThread();
  if (g_fenced_calls.load(std::memory_order_relaxed)) {
    record->inside.fetch_add(1, std::memory_order_seq_cst);  // a full fence too
  } else {
    record->inside.store(record->inside.load(std::memory_order_relaxed) + 1,
                         std::memory_order_relaxed);
    std::atomic_signal_fence(std::memory_order_seq_cst);
  }
}

MutexCall::~MutexCall() {
  ThreadRecord* record = t_record;
  if (g_fenced_calls.load(std::memory_order_relaxed)) {
    record->inside.fetch_sub(1, std::memory_order_release);
  } else {
    record->inside.store(record->inside.load(std::memory_order_relaxed) - 1,
                         std::memory_order_release);
  }
}

void PrepareMutexCallMarks() noexcept {
  static std::once_flag once;
  try {
    std::call_once(once, [] {
      if (!platform::StartProcessBarriers()) g_fenced_calls.store(true);
      platform::RunAroundFork([] { ListMutex().lock(); }, [] { ListMutex().unlock(); },
                              [] {
                                ListMutex().unlock();
                                ForgetOtherThreadsMutexCalls();
                              });
    });
  } catch (...) {
    g_fenced_calls.store(true);
  }
}

bool WaitForOtherThreadsMutexCalls() noexcept {
  try {
    if (!g_fenced_calls.load() && !platform::ProcessBarrier()) return false;
    while (OtherThreadInside()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return true;
  } catch (...) {
    return false;
  }
}

void ForgetOtherThreadsMutexCalls() noexcept {
  std::lock_guard<std::mutex> lock(ListMutex());
  while (g_first != nullptr) Unlink(g_first);
  g_shared_record.inside.store(0);
  if (t_record != nullptr && t_record != &g_shared_record) Link(t_record);
}

}  // namespace kha
