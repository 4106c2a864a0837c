// An invariant check of the whole HistAdmin region, built on the exported
// interface alone, so that any attached process (the histadmin tool, a
// test) can tell whether the tables are consistent.
#pragma once

#include <string>
#include <vector>

namespace kha::verify {

// Which rule a violation breaks.
enum class Rule {
  kNotAttached,       // no region is attached in this process
  kHeader,            // a high-water mark below 0, or the two tables overlap
  kUnreadableSlot,    // a slot below its high-water mark that cannot be read
  kRepositoryCount,   // NumberRepos differs from the repository slots in use
  kFileSetCount,      // NumberFileSets differs from the file-set slots in use
  kSlotUsage,         // a SlotUsage other than 0 or 1
  kIndex,             // a slot whose Index is not its own number
  kRepositoryName,    // a repository in use whose name is empty or too long
  kRepositoryNumber,  // a repository in use with ReposNumber 0
  kFreedRepository,   // a free repository slot not cleared as a delete leaves it
  kFreedFileSet,      // a free file-set slot not cleared as a delete leaves it
  kChain,             // a chain that is not well formed
  kSharedFileSet,     // a file set in two chains (or twice in one)
  kOrphanFileSet,     // a file set in use that is in no chain
};

struct Violation {
  Rule rule;
  std::string message;  // one human-readable line, without a newline
};

// Takes the HistAdmin mutex for one consistent picture, reads the header,
// every repository slot up to ReposHighWater and every file-set slot up to
// FSHighWater, and returns every broken rule found (empty: consistent).
std::vector<Violation> VerifyRegion();

}  // namespace kha::verify
