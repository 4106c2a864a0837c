#include "region/slot_hints.h"

namespace kha {
namespace {

struct Hint {
  uint64_t generation = 0;  // valid while equal to the thread's generation
  const void* view = nullptr;
  int32_t no_free_below = 1;
};

struct ThreadHints {
  int32_t depth = 0;        // holds of the mutex by this thread
  int32_t scopes = 0;       // open FreeSlotHintScopes
  bool untrusted = false;   // a wait failed within the current holds
  uint64_t generation = 1;  // raised to forget every hint
  Hint tables[2];
};

constinit thread_local ThreadHints hints __attribute__((tls_model("initial-exec")));

Hint& HintOf(SlotTable table) { return hints.tables[static_cast<int>(table)]; }

bool Trusted() { return hints.depth > 0 && hints.scopes > 0 && !hints.untrusted; }

}  // namespace

FreeSlotHintScope::FreeSlotHintScope() { ++hints.scopes; }

FreeSlotHintScope::~FreeSlotHintScope() {
  --hints.scopes;
  ++hints.generation;
}

void EnterHistAdminHold(bool taken) {
  ++hints.depth;
  if (!taken) {
    hints.untrusted = true;
    ++hints.generation;
  }
}

void LeaveHistAdminHold() {
  if (hints.depth > 0 && --hints.depth > 0) return;
  hints.untrusted = false;
  ++hints.generation;
}

void ForgetThisThreadsHolds() {
  hints.depth = 0;
  hints.untrusted = false;
  ++hints.generation;
}

bool WaitFailedInThisHold() { return hints.untrusted; }

void ForgetFreeSlotHints() { ++hints.generation; }

int32_t FirstSlotThatMayBeFree(SlotTable table, const void* view) {
  const Hint& hint = HintOf(table);
  if (!Trusted() || hint.generation != hints.generation || hint.view != view) return 1;
  return hint.no_free_below;
}

void NoteNoFreeSlotBelow(SlotTable table, const void* view, int32_t slot) {
  if (!Trusted()) return;
  HintOf(table) = Hint{hints.generation, view, slot};
}

}  // namespace kha
