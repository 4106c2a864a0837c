// histadmin: the administration tool of the HistAdmin region.
//
// Exit status: 0 on success, 1 when an operation fails (its result code
// and message on standard error), 2 when the command line is wrong, 3
// when serve cannot load a new region.
#include <CLI/CLI.hpp>
#include <iostream>

#include "commands.h"
#include "failure.h"
#include "terminal_text.h"

int main(int argc, char** argv) {
  using namespace kha::histadmin;
  // Names and paths from the region are printed with their control bytes
  // escaped, whatever prints them (the library's dump prints on its own).
  const EscapedStream escaped_out(std::cout);
  const EscapedStream escaped_err(std::cerr);
  CLI::App app{
      "histadmin: look at and change the HistAdmin region, the machine-wide table of history\n"
      "repositories and their file sets. Start the region with `histadmin serve`."};
  ConfigureCommandLine(app);

  RunState state;
  // In the order of their groups in --help.
  AddServerCommands(app, state);
  AddRegionCommands(app, state);
  AddTuningCommands(app, state);
  AddWatchCommands(app, state);
  AddVerifyCommands(app, state);
  AddRepositoryCommands(app, state);
  AddFileSetCommands(app, state);
  AddBackupCommands(app, state);
  AddHelpCommands(app, state);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    // --help prints and ends with 0; everything else is wrong usage.
    return app.exit(error) == 0 ? 0 : kExitUsage;
  } catch (const CommandFailure& failure) {
    std::cout.flush();
    std::cerr << "histadmin: " << failure.what() << '\n';
    return failure.exit_status();
  } catch (const std::exception& error) {
    std::cerr << "histadmin: " << error.what() << '\n';
    return kExitFailure;
  }
  return state.exit_status;
}
