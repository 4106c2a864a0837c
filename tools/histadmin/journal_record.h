// What the undo journal beside the region records about the table: the
// load or save a process left half way (the operations it had finished
// stay, and running it again completes it; the record stays until a run of
// the same kind returns 0), how often the table changed, and whether it
// changed since it was last set up, loaded from config.dat or saved.
#pragma once

#include <optional>
#include <string>

#include "region/tools_door.h"

namespace kha::histadmin {

// The record of the journal beside this tool's region; `readable` is
// false when there is none of this build's layout.
inspection::JournalRecord RegionJournalRecord();

// "load running", "load config" or "save" (the histadmin command that runs
// it again); empty when none is recorded or the journal cannot be read.
std::string InterruptedTransfer(const inspection::JournalRecord& record);

// Whether the table has changes that no save has written; nothing when
// the journal cannot be read.
std::optional<bool> HasUnsavedChanges(const inspection::JournalRecord& record);

}  // namespace kha::histadmin
