// The four process-wide values of the HistAdmin region: the mutex handle,
// the section handle, the mapped view and the attach count. One copy per
// process; none of it is shared with other processes.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <type_traits>

#include "platform/platform.h"

namespace kha {

struct ProcessState {
  // Written by set-up, attach and detach only, under LifecycleMutex();
  // atomic because the lock and the data operations read them unlocked.
  std::atomic<platform::MutexObject*> mutex{nullptr};      // HistAdminMutexHandle
  std::atomic<platform::SectionObject*> section{nullptr};  // HistAdminMappingHandle
  std::atomic<std::byte*> view{nullptr};                   // HistAdminView
  std::atomic<std::size_t> view_length{0};                 // bytes mapped at `view`
  // The undo journal beside the region (journal_layout.h): opened and
  // mapped with the section, closed with it.
  std::atomic<platform::SectionObject*> journal_section{nullptr};
  std::atomic<std::byte*> journal{nullptr};
  std::atomic<std::size_t> journal_length{0};

  // Under LifecycleMutex().
  int32_t attach_count = 0;  // HistAdminAttachCount
  // Set-up, attach and detach calls of this process that are using the
  // mutex handle right now; the handle is closed only when none is and
  // nothing else is held.
  int32_t mutex_users = 0;
};

// One per process, constant-initialised and trivially destroyed: usable
// from any static constructor or exit handler, and free to reach.
extern constinit ProcessState g_histadmin_process;
inline ProcessState& HistAdminProcess() { return g_histadmin_process; }

// Serialises changes of the values above among the threads of this
// process (the attach count and the mutex users only under it). Held only
// for short steps that never wait for the HistAdmin mutex, unless the
// holding thread already owns it: a thread may hold the HistAdmin mutex
// (LockHistAdminMutex) and then call set-up, attach or detach without
// deadlocking against another thread doing the same.
std::mutex& LifecycleMutex();

}  // namespace kha
