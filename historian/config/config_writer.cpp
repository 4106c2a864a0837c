// Writing the configuration files: the configuration is built into a
// toml++ document and printed by its formatter, so every string is quoted
// and escaped by the same library that reads it back.
#include <cstdint>
#include <sstream>
#include <string>

#include "config/byte_text.h"
#include "config/config_text.h"
#include "config/float_text.h"
#include "config/toml_library.h"

namespace kha::historian {

namespace {

constexpr std::string_view kConfigHeader =
    "# History configuration: the repositories and their file sets.\n"
    "# Written by the history configuration library; the format is described in\n"
    "# docs/configuration-files.md. Every key is required.\n\n";
constexpr std::string_view kTuningHeader =
    "# History tuning values.\n"
    "# Written by the history configuration library; the format is described in\n"
    "# docs/configuration-files.md. Every key is required.\n\n";
constexpr std::string_view kRunningHeader =
    "# Snapshot of the running historian's configuration: tuning values,\n"
    "# repositories and file sets. The format is described in\n"
    "# docs/configuration-files.md. Every key is required.\n\n";

toml::table InlineTable(toml::table table) {
  table.is_inline(true);
  return table;
}

void InsertBytes(toml::table& table, std::string_view key, const std::string& bytes) {
  if (IsValidUtf8(bytes)) {
    table.insert(key, bytes);
  } else {
    table.insert(key, InlineTable(toml::table{{"hex", HexFromBytes(bytes)}}));
  }
}

void InsertFloat(toml::table& table, std::string_view key, float value) {
  if (value != value && !IsPlainNaN(value)) {
    toml::value<int64_t> bits(static_cast<int64_t>(FloatBits(value)));
    bits.flags(toml::value_flags::format_as_hexadecimal);
    table.insert(key, InlineTable(toml::table{{"bits", std::move(bits)}}));
  } else {
    table.insert(key, DoubleForFloatText(value));
  }
}

void InsertTime(toml::table& table, std::string_view key, TimePair time) {
  table.insert(key, InlineTable(toml::table{{"sec", time.seconds}, {"usec", time.microseconds}}));
}

toml::table FileSetTable(const FileSetConfig& file_set) {
  toml::table table;
  table.insert("history_status", file_set.history_status);
  InsertBytes(table, "file_path", file_set.file_path);
  InsertTime(table, "start_time", file_set.start_time);
  InsertTime(table, "end_time", file_set.end_time);
  table.insert("size", file_set.size);
  InsertFloat(table, "threshold", file_set.threshold);
  table.insert("time_span", file_set.time_span);
  return table;
}

toml::table RepositoryTable(const RepositoryConfig& repository) {
  toml::table table;
  InsertBytes(table, "name", repository.name);
  InsertBytes(table, "file_path", repository.file_path);
  InsertBytes(table, "backup_file_path", repository.backup_file_path);
  table.insert("number_points", repository.number_points);
  table.insert("queue_size", repository.queue_size);
  table.insert("global_file_set_size", repository.global_file_set_size);
  InsertFloat(table, "global_threshold", repository.global_threshold);
  table.insert("global_time_span", repository.global_time_span);
  table.insert("past_time", repository.past_time);
  table.insert("future_time", repository.future_time);
  table.insert("cache_size", repository.cache_size);
  table.insert("insert_size", repository.insert_size);
  table.insert("empty_file_sets", repository.empty_file_sets);
  if (!repository.file_sets.empty()) {
    toml::array file_sets;
    for (const auto& file_set : repository.file_sets) file_sets.push_back(FileSetTable(file_set));
    table.insert("file_set", std::move(file_sets));
  }
  return table;
}

toml::table TuningTable(const TuningConfig& tuning) {
  toml::table table;
  for (int number = 1; number <= kTuningValueCount; ++number) {
    const std::string key =
        std::string("value_") + (number < 10 ? "0" : "") + std::to_string(number);
    table.insert(key, tuning.values[static_cast<std::size_t>(number - 1)]);
  }
  return table;
}

}  // namespace

std::string FormatConfigText(const HistoryConfig& config, ConfigFileKind kind) {
  toml::table document;
  document.insert("format_version", kConfigFormatVersion);
  if (HoldsTuning(kind))
    document.insert("tuning", TuningTable(config.tuning.value_or(TuningConfig{})));
  if (HoldsRepositories(kind) && !config.repositories.empty()) {
    toml::array repositories;
    for (const auto& repository : config.repositories) {
      repositories.push_back(RepositoryTable(repository));
    }
    document.insert("repository", std::move(repositories));
  }
  std::ostringstream text;
  switch (kind) {
    case ConfigFileKind::kConfig:
      text << kConfigHeader;
      break;
    case ConfigFileKind::kTuning:
      text << kTuningHeader;
      break;
    case ConfigFileKind::kRunning:
      text << kRunningHeader;
      break;
  }
  text << toml::toml_formatter{document} << '\n';
  return std::move(text).str();
}

}  // namespace kha::historian
