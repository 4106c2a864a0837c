// A test hook: the first steps of a change to the tables, written into the
// mapped view in the order in which the library's own operations write
// them, and no further. It is what a process killed in the middle of that
// operation leaves behind. Called with the HistAdmin mutex held.
#pragma once

#include <cstdint>

namespace kha::test::reliability {

enum class Change {
  kAddRepository,
  kAddFileSet,        // to the repository in `repository_slot`
  kDeleteFileSet,     // number `file_set_number` of `repository_slot`
  kReleaseFileSets,   // every file set of `repository_slot`
  kDeleteRepository,  // `repository_slot`, with its file sets
  kCount
};

const char* ChangeName(Change change);

// Writes at most `steps` single-field writes of `change` into the view.
// Returns true when the change was complete within `steps`.
bool WriteFirstSteps(Change change, uint16_t repository_slot, int16_t file_set_number,
                     int32_t steps);

}  // namespace kha::test::reliability
