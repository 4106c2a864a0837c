// The undo journal's binary layout. The journal is a shared-memory section
// of its own beside the region ("Global\KESTICORE_HISTADMIN_JOURNAL"), so
// the region's layout stays as it always was. Every process that attaches
// maps it; only the holder of the HistAdmin mutex reads or writes it.
//
// Before an operation stores into the region it appends the bytes it is
// about to overwrite; when the operation has finished (flush included) it
// closes the journal by storing 0 into State. A holder that dies leaves
// State open, and the next taker of the mutex copies the saved bytes back,
// newest entry first, so that a range saved twice ends with its oldest
// bytes.
//
// Journal header (64 bytes at offset 0 of the journal section):
//
//   offset size field        meaning
//        0    4 Magic        kJournalMagic once initialised; 0 in a new section
//        4    4 Layout       kJournalLayout: another build's journal is never used
//        8    4 Capacity     bytes of entry space behind the header
//       12    4 State        0: closed. Bits 0-23: bytes of entries in use;
//                            bits 24-31: the load or save running (TransferKind)
//       16    4 Interrupted  the load or save a dead holder left unfinished
//       20    4 Takeovers    units of dead holders rolled back so far
//       24    4 Changes      units that changed the region so far (wraps): a
//                            watcher compares it instead of the region
//       28    4 Settled      Changes as the last set-up, load from config.dat
//                            or save that got through left it: while the
//                            two differ, the table has changes no save wrote
//       32   32 Reserved     zero
//       64    . entries, Capacity bytes
//
// Entry (one per saved range, appended at the end of the bytes in use):
//
//   offset        size field    meaning
//        0           L OldBytes the region's bytes [Offset, Offset + L) before the store
//        L    0 to 7   Padding  to a multiple of 8
//   pad8(L)          4 Offset   offset into the region
//   pad8(L) + 4      4 Length   L
//
// The offset and length come last so that a rollback can walk the entries
// from the newest back to the oldest without any list of its own.
//
// The journal is writable by every account, like the region: a rollback
// checks every entry against the bytes in use, the capacity, the mapped
// journal and the mapped view before it copies anything.
#pragma once

#include <cstddef>
#include <cstdint>

#include "region/layout.h"

namespace kha {

#pragma pack(push, 1)
struct JournalHeader {
  uint32_t Magic;
  uint32_t Layout;
  uint32_t Capacity;
  uint32_t State;
  uint32_t Interrupted;
  uint32_t Takeovers;
  uint32_t Changes;
  uint32_t Settled;
  uint32_t Reserved[8];
};

struct JournalEntryTrailer {
  uint32_t Offset;
  uint32_t Length;
};
#pragma pack(pop)

static_assert(offsetof(JournalHeader, Magic) == 0);
static_assert(offsetof(JournalHeader, Layout) == 4);
static_assert(offsetof(JournalHeader, Capacity) == 8);
static_assert(offsetof(JournalHeader, State) == 12);
static_assert(offsetof(JournalHeader, Interrupted) == 16);
static_assert(offsetof(JournalHeader, Takeovers) == 20);
static_assert(offsetof(JournalHeader, Changes) == 24);
static_assert(offsetof(JournalHeader, Settled) == 28);
static_assert(offsetof(JournalHeader, Reserved) == 32);
static_assert(sizeof(JournalHeader) == 64);
static_assert(offsetof(JournalEntryTrailer, Offset) == 0);
static_assert(offsetof(JournalEntryTrailer, Length) == 4);
static_assert(sizeof(JournalEntryTrailer) == 8);

inline constexpr uint32_t kJournalMagic = 0x4A41484B;  // "KHAJ"
// Version 1, header and trailer sizes: a build with another layout refuses.
inline constexpr uint32_t kJournalLayout = (1u << 24) |
                                           (static_cast<uint32_t>(sizeof(JournalHeader)) << 8) |
                                           static_cast<uint32_t>(sizeof(JournalEntryTrailer));

inline constexpr std::size_t kJournalHeaderSize = sizeof(JournalHeader);
inline constexpr std::size_t kJournalStateOffset = offsetof(JournalHeader, State);
inline constexpr uint32_t kJournalBytesMask = 0x00FFFFFFu;
inline constexpr uint32_t kJournalTransferShift = 24;

// What a holder was doing for its whole hold, kept in State's top byte.
enum class TransferKind : uint32_t {
  kNone = 0,
  kLoadFromMarn = 1,
  kLoadFromConfig = 2,
  kSaveToConfig = 3,
};

constexpr std::size_t JournalPadded(std::size_t length) { return (length + 7) & ~std::size_t{7}; }
constexpr std::size_t JournalEntrySize(std::size_t length) {
  return JournalPadded(length) + sizeof(JournalEntryTrailer);
}

// The largest unit of normal use: the marking step of the configuration
// load on a region with every repository slot and every file-set slot in
// use, where each repository has its Status changed or its whole chain
// released. A repository's Status is one 4-byte field, a released chain
// its three chain fields, a released file set its last 12 bytes; the
// header is saved once per unit. Deleting a repository whose chain holds
// every file set, the tuning put and whole records are all smaller.
inline constexpr std::size_t kLargestUnitBytes =
    JournalEntrySize(kHeaderSize) +
    static_cast<std::size_t>(kMaxSlot) * (JournalEntrySize(4) + JournalEntrySize(6)) +
    static_cast<std::size_t>(kMaxSlot) * JournalEntrySize(12);
inline constexpr std::size_t kDeleteLargestRepositoryBytes =
    JournalEntrySize(kHeaderSize) + JournalEntrySize(kRepositoryRecordSize) +
    static_cast<std::size_t>(kMaxSlot) * JournalEntrySize(12);

// Entry space of the journal this build creates: 2 MiB.
inline constexpr std::size_t kJournalCapacity = std::size_t{2} << 20;
inline constexpr std::size_t kJournalSectionSize = kJournalHeaderSize + kJournalCapacity;
static_assert(kLargestUnitBytes <= kJournalCapacity);
static_assert(kDeleteLargestRepositoryBytes <= kJournalCapacity);
static_assert(kJournalCapacity <= kJournalBytesMask);
static_assert(kJournalCapacity % 8 == 0);

}  // namespace kha
