// Which kernel objects under this test process's names still exist.
#pragma once

#include <string>
#include <vector>

namespace kha::test {

// The HistAdmin objects (mutex and section) under this test process's
// name prefix that still exist. On POSIX: every shared-memory name that
// carries the prefix, left behind or live; on Windows: those of the two
// named objects that can still be opened.
std::vector<std::string> LiveHistAdminObjects();

}  // namespace kha::test
