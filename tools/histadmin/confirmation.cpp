#include "confirmation.h"

#include <iostream>

#include "failure.h"
#include "standard_streams.h"

namespace kha::histadmin {

CLI::Option* AddYesFlag(CLI::App* command, bool& yes) {
  return command->add_flag("--yes,-y", yes, "Do it without asking (for scripts)");
}

void ConfirmOrStop(const std::string& question, bool yes) {
  if (yes) return;
  if (!InputIsTerminal()) {
    FailUsage(question + ": not done; standard input is no terminal to ask on, so give --yes");
  }
  std::cerr << "histadmin: " << question << "? [y/N] " << std::flush;
  std::string answer;
  std::getline(std::cin, answer);
  if (answer == "y" || answer == "Y" || answer == "yes" || answer == "YES" || answer == "Yes") {
    return;
  }
  Fail("not done");
}

}  // namespace kha::histadmin
