// A handle's seat at the HistAdmin mutex (see mutex_block.h): the token
// by which the kernel tells whether the handle named in the lock word is
// still alive. The seat's kernel lock is held through an open file
// description of the handle's own, which nothing else shares: not the
// descriptor that keeps the object alive, which a child of fork may have
// to keep sharing with its parent, and so would keep a dead parent's seat
// taken.
#pragma once

#include <cstdint>

#include "platform/posix/mutex_block.h"
#include "platform/posix/shared_object.h"

namespace kha::platform::posix {

struct Seat {
  int fd = -1;          // the description holding the seat's lock
  uint32_t holder = 0;  // the holder value this seat takes the mutex with; 0: no seat
};

// Takes the first free seat from a place that depends on the process, on
// a description of its own of `object`, and counts its generation up.
// 0, or an errno value with no seat taken (EUSERS: every seat is taken).
int TakeSeat(const SharedObject& object, SharedMutexBlock* block, Seat* seat);

// Closes the seat's description, which lets go of its lock.
void LeaveSeat(Seat* seat);

// Whether the handle that `holder` (a holder value read from the lock
// word) names has gone: its seat's lock is free, or the seat was taken
// afresh since (another generation). A holder of this process's own seat
// is alive if it is this seat's holder value; a seat beyond the last one
// names nobody. 0 with `gone` set, or an errno value.
int HolderIsGone(const Seat& mine, const SharedMutexBlock* block, uint32_t holder, bool* gone);

}  // namespace kha::platform::posix
