// Writing the undo journal: the units of this thread's hold, the saves
// before each store and the close at the end of a unit.
#include <atomic>
#include <cstring>
#include <exception>

#include "region/journal.h"
#include "region/process_state.h"
#include "region/slot_hints.h"

namespace kha {
namespace {

struct ThreadJournal {
  int32_t holds = 0;          // takes of the mutex by this thread not yet released
  bool untrusted = false;     // a wait of the current holds failed
  int32_t depth = 0;          // open JournalUnits
  bool opened = false;        // the unit has entries in the journal
  bool refused = false;       // a save of the unit was refused
  bool header_saved = false;  // the region header is in the journal
  uint32_t last_offset = 0;   // the last range saved, saved only once
  uint32_t last_length = 0;
  uint32_t transfer = 0;  // TransferKind of this hold, in State's top byte
};

constinit thread_local ThreadJournal current __attribute__((tls_model("initial-exec")));
constinit std::atomic<bool> g_journal_off{false};

#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define KHA_THREAD_SANITIZER 1
#endif
#endif
#if defined(__SANITIZE_THREAD__)
#define KHA_THREAD_SANITIZER 1
#endif

// A fence for the compiler and the CPU. ThreadSanitizer cannot model
// fences (and refuses to build one); its builds get the compiler barrier
// alone, which on the x86 machines they run on is all a store needs to
// stay behind an earlier one.
inline void KeepLaterStoresBehind() {
#if defined(KHA_THREAD_SANITIZER)
  std::atomic_signal_fence(std::memory_order_seq_cst);
#else
  std::atomic_thread_fence(std::memory_order_release);
#endif
}

uint32_t TransferBits() { return current.transfer << kJournalTransferShift; }

void ForgetUnit() {
  current.opened = false;
  current.header_saved = false;
  current.last_offset = 0;
  current.last_length = 0;
}

// Closes the journal after the unit: its entries are no longer needed.
// A unit that stored something is counted, so that a watcher sees that
// the region changed without reading it.
void CloseUnit() {
  if (current.opened) {
    if (JournalHeader* header = UsableJournal()) {
      StoreJournalWord(*header, kJournalStateOffset, TransferBits());
      StoreJournalWord(*header, offsetof(JournalHeader, Changes),
                       LoadJournalWord(*header, offsetof(JournalHeader, Changes)) + 1);
    }
  }
  ForgetUnit();
}

// Rolls back what the unit has written and refuses the rest of it.
bool Refuse() {
  ProcessState& process = HistAdminProcess();
  std::size_t length = 0;
  if (current.opened) {
    if (JournalHeader* header = UsableJournal(&length)) {
      const uint32_t state = LoadJournalWord(*header, kJournalStateOffset);
      (void)ReplayJournal(reinterpret_cast<std::byte*>(header), length,
                          process.view.load(std::memory_order_acquire),
                          process.view_length.load(std::memory_order_acquire),
                          state & kJournalBytesMask);
      StoreJournalWord(*header, kJournalStateOffset, TransferBits());
    }
    ForgetFreeSlotHints();
  }
  ForgetUnit();
  current.refused = true;
  return false;
}

}  // namespace

JournalUnit::JournalUnit() noexcept : exceptions_(std::uncaught_exceptions()) {
  if (current.depth++ == 0) current.refused = false;
}

JournalUnit::~JournalUnit() {
  if (--current.depth != 0) return;
  if (std::uncaught_exceptions() > exceptions_) {
    (void)Refuse();  // left half way by an exception: all of it goes
  } else {
    CloseUnit();
  }
}

int32_t JournalUnit::Result(int32_t result) const {
  return current.refused ? kUnitRefused : result;
}

bool SaveForUndo(const void* address, std::size_t length) {
  if (current.refused) return false;
  // A thread whose wait for the mutex failed finds no region and stores
  // nothing; the journal belongs to whoever holds the mutex.
  if (current.holds == 0 || current.untrusted) return true;
  if (g_journal_off.load(std::memory_order_relaxed)) return true;
  if (current.depth == 0) return Refuse();  // a store outside any unit
  ProcessState& process = HistAdminProcess();
  const std::byte* view = process.view.load(std::memory_order_acquire);
  const std::size_t view_length = process.view_length.load(std::memory_order_acquire);
  const auto* from = static_cast<const std::byte*>(address);
  if (view == nullptr || from < view || length > view_length ||
      static_cast<std::size_t>(from - view) > view_length - length) {
    return Refuse();
  }
  const auto offset = static_cast<uint32_t>(from - view);
  if (length == 0 || (current.opened && offset == current.last_offset &&
                      static_cast<uint32_t>(length) == current.last_length)) {
    return true;
  }

  std::size_t journal_length = 0;
  JournalHeader* header = UsableJournal(&journal_length);
  if (header == nullptr) return Refuse();
  uint32_t state = LoadJournalWord(*header, kJournalStateOffset);
  if (!current.opened && state != TransferBits()) {
    // Entries or a load of a holder that died before this process had a
    // view to roll them back with: they go first.
    TakeOverJournal();
    state = LoadJournalWord(*header, kJournalStateOffset);
    if ((state & kJournalBytesMask) != 0) return Refuse();
  }
  std::size_t room = journal_length - kJournalHeaderSize;
  if (header->Capacity < room) room = header->Capacity;
  const std::size_t used = state & kJournalBytesMask;
  const std::size_t size = JournalEntrySize(length);
  if (used > room || size > room - used) return Refuse();

  std::byte* entry = reinterpret_cast<std::byte*>(header) + kJournalHeaderSize + used;
  std::memcpy(entry, from, length);
  std::memset(entry + length, 0, JournalPadded(length) - length);
  const JournalEntryTrailer trailer{offset, static_cast<uint32_t>(length)};
  std::memcpy(entry + JournalPadded(length), &trailer, sizeof(trailer));

  // The release store makes the entry visible before the count that
  // covers it. Release is one-way, though: it keeps earlier stores above
  // it, not later ones below it, so the caller's stores into the region
  // could still be moved ahead of the publication by the compiler or a
  // weakly ordered CPU. The fence after it keeps them behind.
  StoreJournalWord(*header, kJournalStateOffset,
                   TransferBits() | static_cast<uint32_t>(used + size));
  KeepLaterStoresBehind();
  current.opened = true;
  current.last_offset = offset;
  current.last_length = static_cast<uint32_t>(length);
  return true;
}

bool SaveHeaderForUndo(const RegionHeader& header) {
  if (current.header_saved && current.opened && !current.refused) return true;
  if (!SaveForUndo(header)) return false;
  current.header_saved = true;
  return true;
}

void EnterJournalHold(bool taken) noexcept {
  if (!taken) current.untrusted = true;
  if (current.holds++ == 0 && taken && !g_journal_off.load(std::memory_order_relaxed)) {
    TakeOverJournal();
  }
}

void LeaveJournalHold() noexcept {
  if (current.holds == 0 || --current.holds > 0) return;
  // A unit is always closed before the mutex is let go.
  if (current.depth == 0 && current.opened) CloseUnit();
  current.untrusted = false;
}

void ForgetJournalHoldsOfThisThread() noexcept { current = ThreadJournal{}; }

void UseJournalForBenchmarks(bool in_use) noexcept {
  g_journal_off.store(!in_use, std::memory_order_relaxed);
}

void SettleJournalChanges() noexcept {
  if (current.holds == 0 || current.untrusted) return;
  if (JournalHeader* header = UsableJournal()) {
    StoreJournalWord(*header, offsetof(JournalHeader, Settled),
                     LoadJournalWord(*header, offsetof(JournalHeader, Changes)));
  }
}

TransferMark::TransferMark(TransferKind kind) noexcept : kind_(kind) {
  if (current.holds == 0 || current.untrusted || current.transfer != 0) {
    kind_ = TransferKind::kNone;
    return;
  }
  JournalHeader* header = UsableJournal();
  if (header == nullptr) {
    kind_ = TransferKind::kNone;
    return;
  }
  current.transfer = static_cast<uint32_t>(kind);
  const uint32_t state = LoadJournalWord(*header, kJournalStateOffset);
  StoreJournalWord(*header, kJournalStateOffset, (state & kJournalBytesMask) | TransferBits());
}

TransferMark::~TransferMark() {
  if (kind_ == TransferKind::kNone) return;
  current.transfer = 0;
  JournalHeader* header = UsableJournal();
  if (header == nullptr) return;
  if (got_through_ && LoadJournalWord(*header, offsetof(JournalHeader, Interrupted)) ==
                          static_cast<uint32_t>(kind_)) {
    StoreJournalWord(*header, offsetof(JournalHeader, Interrupted), 0);
  }
  // After a load from the running historian the table is not what
  // config.dat holds, so only a load from config.dat or a save settles.
  if (got_through_ && kind_ != TransferKind::kLoadFromMarn) SettleJournalChanges();
  const uint32_t state = LoadJournalWord(*header, kJournalStateOffset);
  StoreJournalWord(*header, kJournalStateOffset, state & kJournalBytesMask);
}

}  // namespace kha
