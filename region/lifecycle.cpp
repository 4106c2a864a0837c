// The kernel-object steps of the region's lifecycle, each with its own
// result code. They change the process-wide state of process_state.h and
// are called by set-up, attach and detach under LifecycleMutex().
#include "region/lifecycle.h"

#include <chrono>
#include <cstring>
#include <thread>

#include "kestihistadmin.h"
#include "platform/platform.h"
#include "region/journal.h"
#include "region/journal_layout.h"
#include "region/process_state.h"
#include "region/slot_hints.h"

namespace kha {
namespace {

platform::Platform& Os() { return platform::ActivePlatform(); }

// Runs `create` with a descriptor that lets every account on the machine
// use the object; the descriptor is freed as soon as `create` returns.
template <typename Create>
int32_t CreateWithOpenAccess(Create&& create) {
  platform::SecurityDescriptor* sd = Os().AllocateSecurityDescriptor();
  if (sd == nullptr) return KHA_NO_MEMORY;
  int32_t result = KHA_OK;
  if (!Os().InitializeSecurityDescriptor(sd)) {
    result = KHA_INIT_SECURITY_FAILED;
  } else if (!Os().SetNullDacl(sd)) {
    result = KHA_SET_SECURITY_FAILED;
  } else {
    result = create(sd);
  }
  Os().FreeSecurityDescriptor(sd);
  return result;
}

}  // namespace

int32_t CreateHistAdminMutex() {
  ProcessState& process = HistAdminProcess();
  if (process.mutex.load() != nullptr) return KHA_OK;
  return CreateWithOpenAccess([&](platform::SecurityDescriptor* sd) {
    platform::MutexObject* mutex = Os().CreateMutex(platform::kHistAdminMutexName, sd);
    if (mutex == nullptr) return KHA_CREATE_MUTEX_FAILED;
    process.mutex.store(mutex);
    return KHA_OK;
  });
}

int32_t OpenHistAdminMutex() {
  ProcessState& process = HistAdminProcess();
  if (process.mutex.load() != nullptr) return KHA_OK;
  platform::MutexObject* mutex = Os().OpenMutex(platform::kHistAdminMutexName);
  if (mutex == nullptr) return KHA_OPEN_MUTEX_FAILED;
  process.mutex.store(mutex);
  return KHA_OK;
}

int32_t CloseHistAdminMutex() {
  ProcessState& process = HistAdminProcess();
  platform::MutexObject* mutex = process.mutex.exchange(nullptr, std::memory_order_seq_cst);
  if (mutex == nullptr) return KHA_OK;
  // Other threads of this process may still be inside a take or release
  // of the handle, waiting for the mutex: the handle goes once they are
  // out. The closing thread's own holds go first, since a waiter may wait
  // for them; later calls find no handle.
  while (Os().UnlockMutex(mutex)) {
  }
  while (process.mutex_calls.load(std::memory_order_seq_cst) != 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  Os().CloseMutex(mutex);
  return KHA_OK;
}

int32_t CreateHistAdminMapping(uint32_t size) {
  ProcessState& process = HistAdminProcess();
  if (process.section.load() != nullptr) return KHA_ALREADY_EXISTS;
  return CreateWithOpenAccess([&](platform::SecurityDescriptor* sd) {
    platform::SectionObject* section =
        Os().CreateSection(platform::kHistAdminSectionName, size, sd);
    if (section == nullptr) return KHA_CREATE_MAPPING_FAILED;
    process.section.store(section);
    return KHA_OK;
  });
}

int32_t OpenHistAdminMapping() {
  ProcessState& process = HistAdminProcess();
  if (process.section.load() != nullptr) return KHA_ALREADY_OPEN;
  platform::SectionObject* section = Os().OpenSection(platform::kHistAdminSectionName);
  if (section == nullptr) return KHA_OPEN_MAPPING_FAILED;
  process.section.store(section);
  return KHA_OK;
}

int32_t CloseHistAdminMapping() {
  ProcessState& process = HistAdminProcess();
  CloseHistAdminJournal();
  if (platform::SectionObject* section = process.section.exchange(nullptr)) {
    Os().CloseSection(section);
  }
  return KHA_OK;
}

int32_t OpenHistAdminJournal() {
  ProcessState& process = HistAdminProcess();
  if (process.journal_section.load() != nullptr) return KHA_OK;
  // Usually another process has made it already; a region set up by a
  // build that knows no journal gets one from the first process that does.
  platform::SectionObject* section = Os().OpenSection(platform::kHistAdminJournalName);
  if (section == nullptr) {
    const int32_t created = CreateWithOpenAccess([&](platform::SecurityDescriptor* sd) {
      section = Os().CreateSection(platform::kHistAdminJournalName,
                                   static_cast<uint32_t>(kJournalSectionSize), sd);
      return section != nullptr ? KHA_OK : KHA_CREATE_MAPPING_FAILED;
    });
    if (created != KHA_OK) return created;
  }
  size_t length = 0;
  void* view = Os().MapView(section, &length);
  if (view == nullptr) {
    Os().CloseSection(section);
    return KHA_MAP_VIEW_FAILED;
  }
  // A new section reads as all zeros; the mutex is held, so nobody else
  // initialises it meanwhile. A journal of another layout is left alone
  // (UsableJournal refuses it).
  auto* header = static_cast<JournalHeader*>(view);
  if (length >= kJournalHeaderSize && header->Magic == 0 && header->Layout == 0) {
    std::memset(header, 0, kJournalHeaderSize);
    header->Layout = kJournalLayout;
    const size_t room = length - kJournalHeaderSize;
    header->Capacity = static_cast<uint32_t>(room < kJournalBytesMask ? room & ~size_t{7}
                                                                      : kJournalBytesMask & ~7u);
    StoreJournalWord(*header, offsetof(JournalHeader, Magic), kJournalMagic);
  }
  process.journal_section.store(section);
  process.journal_length.store(length);
  process.journal.store(static_cast<std::byte*>(view), std::memory_order_release);
  return KHA_OK;
}

void CloseHistAdminJournal() {
  ProcessState& process = HistAdminProcess();
  if (std::byte* view = process.journal.exchange(nullptr)) {
    (void)Os().UnmapView(view, process.journal_length.load());
  }
  process.journal_length.store(0);
  if (platform::SectionObject* section = process.journal_section.exchange(nullptr)) {
    Os().CloseSection(section);
  }
}

int32_t MapHistAdminView() {
  ProcessState& process = HistAdminProcess();
  platform::SectionObject* section = process.section.load();
  if (section == nullptr) {
    process.view.store(nullptr);
    return KHA_NOT_OPENED;
  }
  size_t length = 0;
  void* view = Os().MapView(section, &length);
  if (view == nullptr) return KHA_MAP_VIEW_FAILED;
  process.view_length.store(length);
  process.view.store(static_cast<std::byte*>(view));
  ForgetFreeSlotHints();  // a new view, maybe at an old address
  return KHA_OK;
}

int32_t UnmapHistAdminView() {
  ProcessState& process = HistAdminProcess();
  std::byte* view = process.view.load();
  if (view == nullptr) return KHA_NOT_MAPPED;
  if (process.section.load() == nullptr) {
    process.view.store(nullptr);
    return KHA_NOT_OPENED;
  }
  if (!Os().UnmapView(view, process.view_length.load())) return KHA_UNMAP_VIEW_FAILED;
  process.view.store(nullptr);
  process.view_length.store(0);
  ForgetFreeSlotHints();
  return KHA_OK;
}

int32_t FlushHistAdminView() {
  ProcessState& process = HistAdminProcess();
  std::byte* view = process.view.load(std::memory_order_acquire);
  if (view == nullptr || WaitFailedInThisHold()) return KHA_NOT_MAPPED;
  if (process.section.load(std::memory_order_acquire) == nullptr) {
    process.view.store(nullptr);
    return KHA_NOT_OPENED;
  }
  if (!Os().FlushView(view, process.view_length.load())) return KHA_FLUSH_VIEW_FAILED;
  return KHA_OK;
}

}  // namespace kha
