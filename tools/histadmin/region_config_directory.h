// The directory of config.dat and tune.dat. The historian's libraries
// find it in KESTI_HISTORY_CONFIG_DIR (a default of their own when it is
// unset), read afresh at every call; the region records in its tuning
// block the files that its load read. An administrator's `load config`
// and `save` go to the region's directory, so that they reach the files of
// the server that loaded it (the service's, say, which the shell's
// environment does not name).
#pragma once

#include <string>

#include "kestihistadmin.h"

namespace kha::histadmin {

// The directory that KESTI_HISTORY_CONFIG_DIR names; empty when unset.
std::string NamedConfigDirectory();

// The directory of the config.dat that `tuning` records; empty when it
// records none (the region was never loaded).
std::string RecordedConfigDirectory(const KestiHistAdminTuningData& tuning);

// Whether two names lead to one directory (as far as can be told: the
// same text when either cannot be looked at).
bool SameDirectory(const std::string& first, const std::string& second);

// Points the historian's libraries of this process at `directory`.
void UseConfigDirectory(const std::string& directory);

// Records config.dat and tune.dat of `directory` in the region's tuning
// block, for a region served empty before those files exist: a save then
// writes them there. The tuning values stay as they are.
void RecordConfigDirectory(const std::string& directory);

}  // namespace kha::histadmin
