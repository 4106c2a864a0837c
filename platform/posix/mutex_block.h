// The bytes of the HistAdmin mutex object on POSIX (/dev/shm/
// KESTICORE_HISTADMIN_MUTEX), shared by every process that uses the
// region. Every account on the machine may write them, so they steer no
// pointer and no write of ours: the lock word is a plain integer that we
// only compare and swap, and whether a holder is alive is asked of the
// kernel, never read from here.
//
//   offset  size   field
//   0       4      Lock         0: free; else kWaiters | kAbandoned | holder
//   4       4      Head         holder value of the waiter owed the next turn, 0: none
//   8       56     (reserved, zero)
//   64      16384  Generations  per seat: how often it has been taken
//   16448   16384  Pids         per seat: the process that took it last (for people)
//   32832          (end: the object's size, which is also its layout stamp)
//
// Beyond the end, byte kSeatLockBase + s carries seat s's kernel lock (an
// open-file-description lock, which may lie past the end of a file).
//
// A holder value names a handle as (seat << kGenerationBits) | generation,
// never 0. Each handle takes a seat for its life: the kernel lock on the
// seat's byte, kept by its own open file description, which dies with its
// process. It then counts the seat's generation up, so that a later taker
// of the same seat is never mistaken for a holder that died.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

namespace kha::platform::posix {

inline constexpr uint32_t kSeats = 4096;
inline constexpr uint32_t kSeatBits = 12;
inline constexpr uint32_t kGenerationBits = 18;
inline constexpr uint32_t kGenerationMask = (1u << kGenerationBits) - 1;

// The lock word: a holder value in the low 30 bits, and two flags.
inline constexpr uint32_t kWaiters = 1u << 31;    // somebody sleeps on the word: wake on release
inline constexpr uint32_t kAbandoned = 1u << 30;  // free: its last holder's thread ended holding
inline constexpr uint32_t kHolderMask = kAbandoned - 1;
static_assert(kSeatBits + kGenerationBits == 30 && (1u << kSeatBits) == kSeats);

struct SharedMutexBlock {
  uint32_t Lock;
  uint32_t Head;
  uint32_t Reserved[14];
  uint32_t Generations[kSeats];
  int32_t Pids[kSeats];
};

static_assert(offsetof(SharedMutexBlock, Lock) == 0);
static_assert(offsetof(SharedMutexBlock, Head) == 4);
static_assert(offsetof(SharedMutexBlock, Generations) == 64);
static_assert(offsetof(SharedMutexBlock, Pids) == 16448);
static_assert(sizeof(SharedMutexBlock) == 32832);

inline constexpr off_t kSeatLockBase = 1 << 20;

constexpr uint32_t SeatOf(uint32_t holder) { return holder >> kGenerationBits; }
constexpr uint32_t GenerationOf(uint32_t holder) { return holder & kGenerationMask; }
constexpr uint32_t HolderValue(uint32_t seat, uint32_t generation) {
  return (seat << kGenerationBits) | (generation & kGenerationMask);
}

}  // namespace kha::platform::posix
