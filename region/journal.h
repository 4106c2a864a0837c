// The undo journal (journal_layout.h) as the library writes and replays it.
// Called with the HistAdmin mutex held.
//
// The unit of all or nothing is one exported operation: every internal
// operation that writes the region opens a JournalUnit; the outermost one
// of a thread's hold is the unit, inner ones (a delete of a repository
// releasing its file sets) stay inside it. Before its first store into a
// range of the region, an operation records the range with SaveForUndo;
// the journal opens at the unit's first save and closes when the
// outermost JournalUnit ends, which is after the operation's last flush
// and before the mutex is released.
//
// A save that cannot be recorded (the journal is full, missing or of
// another layout) refuses the unit:
// what the unit has written so far is rolled back from the journal, every
// later save of the unit refuses too, and the operation returns
// kUnitRefused. Operations check every save before they store.
//
// A thread whose wait for the mutex failed finds no region until it has
// released that hold (locking.cpp), so it never writes without the journal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "kestihistadmin.h"
#include "region/journal_layout.h"
#include "region/layout.h"

namespace kha {

// What a refused unit returns: -2022, "There is not enough space in the
// KESTIHISTADMIN shared memory.". The journal is sized so that no
// operation of normal use ever meets it.
inline constexpr int32_t kUnitRefused = KHA_NO_SPACE;

class JournalUnit {
 public:
  JournalUnit() noexcept;
  ~JournalUnit();
  JournalUnit(const JournalUnit&) = delete;
  JournalUnit& operator=(const JournalUnit&) = delete;

  // `result`, or kUnitRefused when a save of this unit was refused (an
  // operation that goes on after an inner refusal must not report success).
  int32_t Result(int32_t result) const;

 private:
  // Exceptions in flight when the unit opened: an operation left by one
  // more is rolled back, not kept half done.
  int exceptions_;
};

// Records the region's bytes [address, address + length) before the first
// store into them. False when the unit is refused (it has then been rolled
// back): the caller returns kUnitRefused without storing anything.
[[nodiscard]] bool SaveForUndo(const void* address, std::size_t length);

// The same for one whole record, block or header.
template <typename Block>
[[nodiscard]] bool SaveForUndo(const Block& block) {
  return SaveForUndo(&block, sizeof(Block));
}

// The fields `First` up to and including `Last` of one record (a macro:
// the records are packed, and a reference to one of their fields would
// claim an alignment it lacks).
#define KHA_SAVE_FIELDS_FOR_UNDO(record, First, Last)                            \
  ::kha::SaveForUndo(reinterpret_cast<const std::byte*>(&(record)) +             \
                         offsetof(std::remove_cvref_t<decltype(record)>, First), \
                     offsetof(std::remove_cvref_t<decltype(record)>, Last) +     \
                         sizeof(std::remove_cvref_t<decltype(record)>::Last) -   \
                         offsetof(std::remove_cvref_t<decltype(record)>, First))

// The region header, saved once per unit however often a loop lowers a
// count in it.
[[nodiscard]] bool SaveHeaderForUndo(const RegionHeader& header);

// Marks the load or save that runs for the whole of this hold, so that a
// taker after its holder's death can tell that it was interrupted. The
// record of an unfinished earlier run of the same kind is cleared at the
// end of one that returns 0.
class TransferMark {
 public:
  explicit TransferMark(TransferKind kind) noexcept;
  ~TransferMark();
  TransferMark(const TransferMark&) = delete;
  TransferMark& operator=(const TransferMark&) = delete;

  // Returns `result`, noting whether the run got through (0).
  int32_t Ended(int32_t result) noexcept {
    got_through_ = result == KHA_OK;
    return result;
  }

 private:
  TransferKind kind_;
  bool got_through_ = false;
};

// Notes that the region, as it is now, is what a save would write or has
// just written: a new region, or one loaded from config.dat or saved to
// it. Until the next change `histadmin status` says no change is unsaved.
// Only with the mutex held; otherwise nothing.
void SettleJournalChanges() noexcept;

// Called by the lock (locking.cpp) for every take and release of this
// thread. A fresh take (not a re-entry) looks at the journal: open means
// its last holder died, and the journal is rolled back (TakeOverJournal).
// `taken` is false when the wait failed.
void EnterJournalHold(bool taken) noexcept;
void LeaveJournalHold() noexcept;
// For the child of a fork: the thread that forked may have held the mutex
// or been inside a unit, and the child holds nothing.
void ForgetJournalHoldsOfThisThread() noexcept;

// When this process has both the view and the journal mapped and the
// journal is open: copies every entry back into the region, newest first,
// flushes, records an interrupted load or save, and closes the journal.
// Otherwise nothing (a taker without a view leaves the journal for the
// next one). Safe to repeat: a taker that dies half way through leaves the
// journal open, and the next one replays it again from the start.
void TakeOverJournal() noexcept;

// Copies the entries of `bytes_in_use` bytes of the journal at `journal`
// (`journal_length` bytes mapped) back into `view` (`view_length` bytes),
// newest first. Entries that do not lie inside the journal end the walk;
// entries whose range does not lie inside the view are skipped. Returns
// the number of entries copied back.
uint32_t ReplayJournal(std::byte* journal, std::size_t journal_length, std::byte* view,
                       std::size_t view_length, uint32_t bytes_in_use) noexcept;

// The journal mapped in this process, when it is this build's and usable;
// null otherwise. `length` receives the bytes mapped.
JournalHeader* UsableJournal(std::size_t* length = nullptr) noexcept;

// State and the header's other words, read and written as atomics (the
// header lies at the start of a mapping and is aligned).
uint32_t LoadJournalWord(const JournalHeader& header, std::size_t offset) noexcept;
void StoreJournalWord(JournalHeader& header, std::size_t offset, uint32_t value) noexcept;

// Benchmarks only: false makes every save a no-op and every take skip the
// journal, as a build without it would run, so that the cost of the
// journal can be measured beside it. An operation made meanwhile cannot be
// undone; nothing else ever calls it.
void UseJournalForBenchmarks(bool in_use) noexcept;

}  // namespace kha
