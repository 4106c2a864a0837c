#include "commands.h"

namespace kha::histadmin {

void ConfigureCommandLine(CLI::App& app) {
  app.name("histadmin");
  app.require_subcommand(1, 1);
  // Options are --name on every system. A Windows build would otherwise
  // also read /name as an option, and a file path such as /data/fs1 could
  // not be given.
  app.allow_windows_style_options(false);
  app.set_version_flag("--version", std::string("histadmin ") + KHA_VERSION);
}

}  // namespace kha::histadmin
