// The command groups of histadmin. Each adds its subcommands to the
// application; their callbacks run when the command line names them.
#pragma once

#include <CLI/CLI.hpp>

namespace kha::histadmin {

// What the command that ran leaves for main.
struct RunState {
  int exit_status = 0;
};

// The settings of the application that every subcommand inherits: so
// they come before any command is added.
void ConfigureCommandLine(CLI::App& app);

// serve, wait
void AddServerCommands(CLI::App& app, RunState& state);
// status, dump, load, save
void AddRegionCommands(CLI::App& app, RunState& state);
// error
void AddHelpCommands(CLI::App& app, RunState& state);
// list, show, add-repo, set-repo, rename-repo, delete-repo
void AddRepositoryCommands(CLI::App& app, RunState& state);
// add-fileset, set-fileset, delete-fileset
void AddFileSetCommands(CLI::App& app, RunState& state);
// verify
void AddVerifyCommands(CLI::App& app, RunState& state);
// tuning
void AddTuningCommands(CLI::App& app, RunState& state);
// export, import
void AddBackupCommands(CLI::App& app, RunState& state);
// watch
void AddWatchCommands(CLI::App& app, RunState& state);

// Adds --json to a command: what it read, or what it changed (slots and
// numbers), as JSON instead of text.
inline CLI::Option* AddJsonFlag(CLI::App* command, bool& json) {
  return command->add_flag("--json", json, "Print JSON instead of text");
}

}  // namespace kha::histadmin
