// Finds, for one repository during one load from the configuration files,
// the first file set of its chain whose PendingFilePath names the same
// place as a path read from the files: both converted to their local form
// and compared ignoring the case of ASCII letters.
//
// Walking the chain and converting every PendingFilePath for every arc
// would make a repository's load grow with the square of its file sets.
// The index walks the chain once, converts each path once, and keeps the
// first slot for each distinct converted path; file sets that the load
// appends are added to it. The answers are those of a fresh walk: when
// the chain is not one that appending can simply extend (a chain that
// ends early, loops, or does not end at LastFS), the index is built again
// from a fresh walk, and if memory runs out it gives way to a plain walk.
#pragma once

#include <cstdint>
#include <vector>

#include "transfer/folded_path_table.h"

namespace kha {

class ChainPathIndex {
 public:
  explicit ChainPathIndex(uint16_t repository_slot) : repository_slot_(repository_slot) {}

  // The first file set of the chain whose converted PendingFilePath equals
  // `converted`, ignoring ASCII case; 0 for none.
  int16_t FindFirst(const char* converted);

  // The load has just appended `slot` to the chain, its PendingFilePath
  // converting to `converted`.
  void NoteAppended(int16_t slot, const char* converted);

  // A matched file set's PendingFilePath is rewritten with the path it was
  // matched by, which converts to the same path up to ASCII case: the index
  // stays as it is. Nothing to do; stated here for the reader.

 private:
  bool Build();
  void Forget();

  uint16_t repository_slot_;
  bool built_ = false;
  bool usable_ = true;
  // A chain that a plain append extends by exactly the appended slot: it
  // was walked to NumberFS without ending early, ended at LastFS and
  // visited no slot twice.
  bool extendable_ = false;
  int32_t walked_ = 0;
  int16_t last_slot_ = 0;
  FoldedPathTable first_slot_by_path_;
  std::vector<bool> visited_;
};

// The plain walk: converts each file set's PendingFilePath in turn.
int16_t FindFirstFileSetByConvertedPath(uint16_t repository_slot, const char* converted);

}  // namespace kha
