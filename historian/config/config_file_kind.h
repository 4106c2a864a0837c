// The three files of the history configuration directory and what each of
// them holds.
#pragma once

namespace kha::historian {

enum class ConfigFileKind {
  kConfig,   // config.dat: the repositories and their file sets
  kTuning,   // tune.dat: the tuning block
  kRunning,  // running.dat: the running historian's tuning and repositories
};

constexpr bool HoldsRepositories(ConfigFileKind kind) { return kind != ConfigFileKind::kTuning; }
constexpr bool HoldsTuning(ConfigFileKind kind) { return kind != ConfigFileKind::kConfig; }

}  // namespace kha::historian
