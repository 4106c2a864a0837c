// What this thread knows about free slots during a run of many adds under
// one hold of the HistAdmin mutex: for each table, a slot below which none
// is free. A load adds thousands of file sets under one hold; with this,
// the search for the lowest free slot looks at each slot once over the
// whole load instead of from slot 1 at every add, and finds the same slot.
//
// Hints live only inside a FreeSlotHintScope, which the loads open while
// they hold the mutex, and only while the mutex is held: then only this
// thread changes the region, through the library alone. The few ways a
// slot becomes free, or the tables move, forget every hint
// (ForgetFreeSlotHints); so does the end of the scope and the release of
// the outermost hold. Outside a scope every search starts at slot 1.
#pragma once

#include <cstdint>

namespace kha {

enum class SlotTable { kRepository = 0, kFileSet = 1 };

// Opened by code that adds many records under one hold of the mutex and
// writes the region only through the library meanwhile.
class FreeSlotHintScope {
 public:
  FreeSlotHintScope();
  ~FreeSlotHintScope();
  FreeSlotHintScope(const FreeSlotHintScope&) = delete;
  FreeSlotHintScope& operator=(const FreeSlotHintScope&) = delete;
};

// Called by LockHistAdminMutex / UnlockHistAdminMutex of this thread.
// `taken` is false when the wait failed: nothing is trusted until this
// thread's holds are all released.
void EnterHistAdminHold(bool taken);
void LeaveHistAdminHold();
// In the child of a fork: the forking thread's holds stayed the parent's.
void ForgetThisThreadsHolds();
// True while this thread is inside a hold whose wait failed: the region is
// refused to it until that hold is released.
bool WaitFailedInThisHold();

// A slot became free, the header or the view changed: nothing is known.
void ForgetFreeSlotHints();

// The slot from which a search for the lowest free slot of `table` may
// start in the view at `view`: 1 unless a hint of this hold says more.
int32_t FirstSlotThatMayBeFree(SlotTable table, const void* view);

// No slot of `table` below `slot` is free (SlotUsage 0). Kept only while
// this thread holds the mutex inside a scope.
void NoteNoFreeSlotBelow(SlotTable table, const void* view, int32_t slot);

}  // namespace kha
