// The question before a command that throws away what the region holds
// (delete-repo, delete-fileset, load running): asked on a terminal; a
// script says --yes, and without it nothing is done.
#pragma once

#include <CLI/CLI.hpp>
#include <string>

namespace kha::histadmin {

// Adds --yes to `command`.
CLI::Option* AddYesFlag(CLI::App* command, bool& yes);

// Goes on when `yes`, or when standard input is a terminal and the answer
// to `question` (asked on standard error) is y or yes. Otherwise exits:
// 1 when the answer was no, 2 when there was nobody to ask. Call it before
// anything is changed; a command holding the region's mutex must not wait
// for an answer, so ask before taking it.
void ConfirmOrStop(const std::string& question, bool yes);

}  // namespace kha::histadmin
