// The four process-wide values of the HistAdmin region: the mutex handle,
// the section handle, the mapped view and the attach count. One copy per
// process; none of it is shared with other processes.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "platform/platform.h"

namespace kha {

struct ProcessState {
  // Written by set-up, attach and detach only, while `lifecycle` is held;
  // atomic because the lock and the data operations read them unlocked.
  std::atomic<platform::MutexObject*> mutex{nullptr};      // HistAdminMutexHandle
  std::atomic<platform::SectionObject*> section{nullptr};  // HistAdminMappingHandle
  std::atomic<std::byte*> view{nullptr};                   // HistAdminView
  std::atomic<std::size_t> view_length{0};                 // bytes mapped at `view`
  int32_t attach_count = 0;                                // HistAdminAttachCount, under `lifecycle`

  // Serialises set-up, attach and detach among the threads of this
  // process. Lock order: the HistAdmin mutex first, then this; never wait
  // for the HistAdmin mutex while holding this.
  std::mutex lifecycle;
};

ProcessState& HistAdminProcess();

}  // namespace kha
