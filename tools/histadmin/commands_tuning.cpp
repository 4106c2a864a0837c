// histadmin tuning: the tuning block by field name, and changes of its
// forty values (the paths and time stamps are the loads' to record).
#include <charconv>
#include <iostream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "commands.h"
#include "failure.h"
#include "output.h"
#include "region_access.h"
#include "session.h"
#include "tuning_values.h"

namespace kha::histadmin {
namespace {

struct TuningOptions {
  std::vector<std::string> assignments;  // NAME=VALUE
  bool json = false;
};

std::string TimestampText(const uint8_t (&stamp)[8]) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  for (const uint8_t byte : stamp) {
    text += digits[byte >> 4];
    text += digits[byte & 0xF];
  }
  return text;
}

// NAME=VALUE into value number and value; exit 2 on anything else.
std::map<int, int64_t> ParseAssignments(const std::vector<std::string>& assignments) {
  std::map<int, int64_t> values;
  for (const std::string& assignment : assignments) {
    const auto equals = assignment.find('=');
    const std::optional<int> n = TuningValueNumber(assignment.substr(0, equals));
    if (equals == std::string::npos || !n) {
      FailUsage("tuning: expected TuningValueN=VALUE with N from 1 to " +
                std::to_string(kTuningValueCount) + ", got '" + assignment + "'");
    }
    const std::string text = assignment.substr(equals + 1);
    int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty()) {
      FailUsage("tuning: " + TuningValueName(*n) + ": expected a number, got '" + text + "'");
    }
    if (value < 0) {
      FailUsage("tuning: " + TuningValueName(*n) + ": must not be negative, got " + text);
    }
    if (value > TuningValueMaximum(*n)) {
      FailUsage("tuning: " + TuningValueName(*n) + ": at most " +
                std::to_string(TuningValueMaximum(*n)) + ", got " + text);
    }
    values[*n] = value;
  }
  return values;
}

void PrintTuning(const KestiHistAdminTuningData& tuning, bool json) {
  if (json) {
    PrintJson(TuningJson(tuning));
    return;
  }
  std::vector<std::pair<std::string, std::string>> fields{
      {"ConfigFilePath", FieldText(tuning.ConfigFilePath)},
      {"ConfigFileTimestamp", TimestampText(tuning.ConfigFileTimestamp)},
      {"TuneFilePath", FieldText(tuning.TuneFilePath)},
      {"TuneFileTimestamp", TimestampText(tuning.TuneFileTimestamp)}};
  for (int n = 1; n <= kTuningValueCount; ++n) {
    fields.emplace_back(TuningValueName(n), std::to_string(GetTuningValue(tuning, n)));
  }
  PrintFields(fields);
}

void Tuning(const TuningOptions& options) {
  const std::map<int, int64_t> changes = ParseAssignments(options.assignments);
  Attachment attachment;
  RegionLock lock;  // the block read is the block written back
  KestiHistAdminTuningData tuning = ReadTuning();
  if (changes.empty()) {
    PrintTuning(tuning, options.json);
    return;
  }
  nlohmann::ordered_json changed = nlohmann::ordered_json::object();
  std::string text;
  for (const auto& [n, value] : changes) {
    SetTuningValue(tuning, n, value);
    changed[TuningValueName(n)] = value;
    text += (text.empty() ? "" : ", ") + TuningValueName(n) + " = " + std::to_string(value);
  }
  CheckInPlace(PutKestiHistAdminTuningData(&tuning), "cannot write the tuning block");
  PrintResult(options.json, "tuning block updated: " + text, {{"Changed", changed}});
}

}  // namespace

void AddTuningCommands(CLI::App& app, RunState&) {
  auto options = std::make_shared<TuningOptions>();
  CLI::App* tuning = app.add_subcommand(
      "tuning", "Show the tuning block by field name, or set some of its forty values");
  tuning->add_option("VALUES", options->assignments,
                     "TuningValueN=VALUE to set (N 1 to 40; values are never negative; 1, 2, "
                     "12 and 13 are at most 32767)");
  AddJsonFlag(tuning, options->json);
  tuning->callback([options] { Tuning(*options); });
  tuning->group("The region");
}

}  // namespace kha::histadmin
