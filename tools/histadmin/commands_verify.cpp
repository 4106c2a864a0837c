#include "commands.h"
namespace kha::histadmin { void AddVerifyCommands(CLI::App&, RunState&) {} }
