// What a load left out. The loads return 0 even when single repositories
// failed (the interface has always done that), so after a load histadmin
// asks the historian's libraries what they list and looks each repository
// and file set up in the region.
#pragma once

#include <string>
#include <vector>

namespace kha::histadmin {

// One line per repository of `source` (0 the running historian, 1 what
// the load read from the configuration files) that the region does not
// hold, or holds without all of its file sets. Call it right after the
// load, with the region's lock held across both.
std::vector<std::string> RepositoriesNotLoaded(int source);

// Prints `report` to standard error and exits 1 saying how many
// repositories the load left out or loaded in part; nothing when empty.
void FailIfIncomplete(const std::vector<std::string>& report);

}  // namespace kha::histadmin
