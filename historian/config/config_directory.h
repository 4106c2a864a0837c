// Where the history configuration lives: one directory holding config.dat,
// tune.dat, running.dat (the running historian's configuration) and
// shares.dat (the local directories of this machine's network shares).
#pragma once

#include <filesystem>

#include "config/config_file_kind.h"

namespace kha::historian {

// The environment variable that names the directory. Unset or empty: the
// platform's default (os::DefaultConfigDirectory()).
inline constexpr char kConfigDirectoryVariable[] = "KESTI_HISTORY_CONFIG_DIR";

// Read at every call, so a change of the variable takes effect at once.
std::filesystem::path ConfigDirectory();

std::filesystem::path ConfigFilePath(ConfigFileKind kind);
std::filesystem::path SharesFilePath();

}  // namespace kha::historian
