// The kernel-object steps of the region's lifecycle, each with its own
// result code (ResultCodeOf: the step of the platform call that failed);
// the OS reason of a failure is noted for the export (os_reason.h). They
// change the process-wide state of process_state.h and are called by
// set-up, attach and detach under LifecycleMutex().
#include "region/lifecycle.h"

#include <chrono>
#include <cstring>
#include <thread>

#include "kestihistadmin.h"
#include "platform/platform.h"
#include "region/journal.h"
#include "region/journal_layout.h"
#include "region/mutex_calls.h"
#include "region/os_reason.h"
#include "region/process_state.h"
#include "region/slot_hints.h"

namespace kha {
namespace {

platform::Platform& Os() { return platform::ActivePlatform(); }

}  // namespace

int32_t CreateHistAdminMutex() {
  ProcessState& process = HistAdminProcess();
  if (process.mutex.load() != nullptr) return KHA_OK;
  const auto mutex = Os().CreateMutex(platform::kHistAdminMutexName);
  if (!mutex.ok()) return ReportOsFailure(mutex.failure());
  process.mutex.store(mutex.value());
  return KHA_OK;
}

int32_t OpenHistAdminMutex() {
  ProcessState& process = HistAdminProcess();
  if (process.mutex.load() != nullptr) return KHA_OK;
  const auto mutex = Os().OpenMutex(platform::kHistAdminMutexName);
  if (!mutex.ok()) return ReportOsFailure(mutex.failure());
  process.mutex.store(mutex.value());
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
  while (Os().UnlockMutex(mutex).ok()) {
  }
  // Without a barrier nobody's mark can be trusted: the handle stays open
  // (its seat and its share of the object with it) rather than go under
  // a thread that may be using it.
  if (WaitForOtherThreadsMutexCalls()) Os().CloseMutex(mutex);
  return KHA_OK;
}

int32_t CreateHistAdminMapping(uint32_t size) {
  ProcessState& process = HistAdminProcess();
  if (process.section.load() != nullptr) return KHA_ALREADY_EXISTS;
  const auto section = Os().CreateSection(platform::kHistAdminSectionName, size);
  if (!section.ok()) return ReportOsFailure(section.failure());
  process.section.store(section.value());
  return KHA_OK;
}

int32_t OpenHistAdminMapping() {
  ProcessState& process = HistAdminProcess();
  if (process.section.load() != nullptr) return KHA_ALREADY_OPEN;
  const auto section = Os().OpenSection(platform::kHistAdminSectionName);
  if (!section.ok()) return ReportOsFailure(section.failure());
  process.section.store(section.value());
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
  auto section = Os().OpenSection(platform::kHistAdminJournalName);
  if (!section.ok()) {
    section = Os().CreateSection(platform::kHistAdminJournalName,
                                 static_cast<uint32_t>(kJournalSectionSize));
    if (!section.ok()) return ReportOsFailure(section.failure());
  }
  const auto view = Os().MapView(section.value());
  if (!view.ok()) {
    const int32_t code = ReportOsFailure(view.failure());
    Os().CloseSection(section.value());
    return code;
  }
  // A new section reads as all zeros; the mutex is held, so nobody else
  // initialises it meanwhile. A journal of another layout is left alone
  // (UsableJournal refuses it).
  const size_t length = view.value().length;
  auto* header = static_cast<JournalHeader*>(view.value().address);
  if (length >= kJournalHeaderSize && header->Magic == 0 && header->Layout == 0) {
    std::memset(header, 0, kJournalHeaderSize);
    header->Layout = kJournalLayout;
    const size_t room = length - kJournalHeaderSize;
    header->Capacity = static_cast<uint32_t>(room < kJournalBytesMask ? room & ~size_t{7}
                                                                      : kJournalBytesMask & ~7u);
    StoreJournalWord(*header, offsetof(JournalHeader, Magic), kJournalMagic);
  }
  process.journal_section.store(section.value());
  process.journal_length.store(length);
  process.journal.store(static_cast<std::byte*>(view.value().address), std::memory_order_release);
  return KHA_OK;
}

void CloseHistAdminJournal() {
  ProcessState& process = HistAdminProcess();
  if (std::byte* view = process.journal.exchange(nullptr)) {
    (void)Os().UnmapView({view, process.journal_length.load()});
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
  const auto view = Os().MapView(section);
  if (!view.ok()) return ReportOsFailure(view.failure());
  process.view_length.store(view.value().length);
  process.view.store(static_cast<std::byte*>(view.value().address));
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
  const auto unmapped = Os().UnmapView({view, process.view_length.load()});
  if (!unmapped.ok()) return ReportOsFailure(unmapped.failure());
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
  const auto flushed = Os().FlushView({view, process.view_length.load()});
  if (!flushed.ok()) return ReportOsFailure(flushed.failure());
  return KHA_OK;
}

}  // namespace kha
