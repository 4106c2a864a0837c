// The labelled text dump of the HistAdmin region. Unlocked printers: the
// caller holds the HistAdmin mutex.
#pragma once

#include <cstdint>

namespace kha {

// Prints every repository in use with its file sets (the exported dump).
// Prints nothing when the process is not attached.
void PrintAllRepositories();

// Prints repository slot `slot` (an empty line and its 28 field lines),
// then every file set of its chain. Prints nothing for a slot outside the
// repository table.
void PrintOneRepository(int16_t slot);

// Prints file-set slot `slot` as the file set at `position` of its chain:
// an empty line, "FileSetNumber = position" and its 18 field lines.
// Prints nothing for a slot outside the file-set table.
void PrintOneFileSet(int16_t slot, int32_t position);

}  // namespace kha
