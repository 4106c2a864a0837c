// `histadmin save --dry-run`: what a save would write to config.dat and
// tune.dat, as a unified diff against the files it would replace, with
// nothing written to them.
//
// The save is the library's, run for real but with the historian's
// configuration directory (KESTI_HISTORY_CONFIG_DIR, which the stand-in
// marnuser reads at each write) pointed at a temporary directory of this
// process's own; the region is only read, under one hold of the mutex.
// The files compared are those named by the tuning block (where the last
// load read them, and where `save` says it saved).
#pragma once

namespace kha::histadmin {

// Prints the diff (nothing when the save would change nothing, and a line
// saying so), or with `json` {"Files": [{"Path", "Changed", "Diff"}]}.
// Call it attached.
void PrintSavePreview(bool json);

}  // namespace kha::histadmin
