// The live handles of one kind in this process, linked through their own
// `previous` and `next` members, for the child of a fork and for threads
// that end. A list is constant-initialised and its mutex never destroyed:
// exit handlers and the child of a fork may still reach it.
#pragma once

#include <mutex>

namespace kha::platform::posix {

template <typename Handle>
class HandleList {
 public:
  // Held across fork() by the backend's fork handlers, and around Walk.
  std::mutex& Mutex() {
    static std::mutex* mutex = new std::mutex();
    return *mutex;
  }

  void Add(Handle* handle) {
    std::lock_guard<std::mutex> lock(Mutex());
    handle->previous = nullptr;
    handle->next = first_;
    if (first_ != nullptr) first_->previous = handle;
    first_ = handle;
  }

  void Remove(Handle* handle) {
    std::lock_guard<std::mutex> lock(Mutex());
    if (handle->previous != nullptr) handle->previous->next = handle->next;
    if (handle->next != nullptr) handle->next->previous = handle->previous;
    if (first_ == handle) first_ = handle->next;
    handle->previous = handle->next = nullptr;
  }

  // Calls `visit` on every handle; the caller holds Mutex().
  template <typename Visit>
  void Walk(Visit&& visit) {
    for (Handle* handle = first_; handle != nullptr; handle = handle->next) visit(handle);
  }

 private:
  Handle* first_ = nullptr;
};

}  // namespace kha::platform::posix
