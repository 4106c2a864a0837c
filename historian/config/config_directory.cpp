#include "config/config_directory.h"

#include <cstdlib>

#include "os/os.h"

namespace kha::historian {

std::filesystem::path ConfigDirectory() {
  const char* named = std::getenv(kConfigDirectoryVariable);
  if (named == nullptr || *named == '\0') return os::DefaultConfigDirectory();
  return std::filesystem::path(named);
}

std::filesystem::path ConfigFilePath(ConfigFileKind kind) {
  switch (kind) {
    case ConfigFileKind::kConfig:
      return ConfigDirectory() / "config.dat";
    case ConfigFileKind::kTuning:
      return ConfigDirectory() / "tune.dat";
    case ConfigFileKind::kRunning:
      return ConfigDirectory() / "running.dat";
  }
  return {};
}

std::filesystem::path SharesFilePath() { return ConfigDirectory() / "shares.dat"; }

}  // namespace kha::historian
