// Who holds the HistAdmin mutex, for `histadmin status`: when a process
// keeps it (stopped, stuck, or another account's), every call waits, and
// the administrator needs its process to act on.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace kha::histadmin {

// The process that the mutex's own bytes name as its holder, looked at
// without waiting: "process 1234 (name)", empty when they name nobody,
// nothing when there is no mutex or this system cannot tell (a Windows
// mutex names no owner). Those bytes may be anybody's: a hint.
std::optional<std::string> MutexHolderText();

}  // namespace kha::histadmin
