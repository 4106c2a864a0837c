// histadmin as the tool tests run it (the build at KHA_HISTADMIN_PATH):
// to its end, or in the background up to a line it prints; and the
// example configuration it serves.
#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "support/spawned_program.h"

namespace kha::test {

struct Said {
  int status;
  std::string text;  // standard output and error
};

inline Said RunHistadmin(const std::vector<std::string>& arguments) {
  std::vector<std::string> command{KHA_HISTADMIN_PATH};
  command.insert(command.end(), arguments.begin(), arguments.end());
  SpawnedProgram program(command);
  std::string text = program.ReadToEnd();
  return {program.Wait(), std::move(text)};
}

// Adds the lines `program` prints to `said` up to the first that holds
// `wanted`; false when its output ends first.
inline bool ReadUntil(SpawnedProgram& program, const std::string& wanted, std::string* said) {
  for (std::string line; program.ReadLine(&line);) {
    *said += line + '\n';
    if (line.find(wanted) != std::string::npos) return true;
  }
  return false;
}

// The example configuration's files, copied into `directory`.
inline void CopyExampleConfig(const std::filesystem::path& directory) {
  for (const char* file : {"config.dat", "tune.dat", "running.dat", "shares.dat"}) {
    std::filesystem::copy_file(std::filesystem::path(KHA_EXAMPLE_CONFIG_DIR) / file,
                               directory / file);
  }
}

}  // namespace kha::test
