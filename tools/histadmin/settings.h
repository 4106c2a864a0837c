// The settings options shared by the commands that add and change
// repositories and file sets. `--NAME VALUE` sets a value in effect
// together with its pending twin; `--pending-NAME VALUE` sets only the
// pending value (what the save writes), and wins over `--NAME` for it.
#pragma once

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>

#include "kestihistadmin.h"

namespace kha::histadmin {

// A value in effect and its pending twin, as given on the command line.
template <typename T>
struct PairedSetting {
  std::optional<T> both;
  std::optional<T> pending;

  bool Given() const { return both.has_value() || pending.has_value(); }
};

class RepositorySettings {
 public:
  // Adds the options to `command`; `with_status` adds --status too.
  void AddOptions(CLI::App* command, bool with_status);
  bool Given() const;
  void ApplyTo(KestiHistAdminRepository& record) const;

 private:
  std::optional<int32_t> status_;
  PairedSetting<std::string> path_, backup_path_;
  PairedSetting<int32_t> points_, queue_size_, time_span_, cache_size_, insert_size_,
      empty_filesets_;
  PairedSetting<float> threshold_;
  std::optional<int32_t> file_set_size_, future_time_, past_time_;
};

class FileSetSettings {
 public:
  // Adds the options to `command`; `with_path` adds --path too (the add
  // takes the path as an argument).
  void AddOptions(CLI::App* command, bool with_path);
  bool Given() const;
  // True when the command line gives the file set a size, threshold or
  // time span of its own.
  bool GivesOwnParameters() const;
  bool GivesParamSource() const { return param_source_.has_value(); }
  // The path the file set will hold after ApplyTo, if the options set one.
  std::optional<std::string> NewPath() const { return path_.both; }
  void ApplyTo(KestiHistAdminFileSet& record) const;

 private:
  std::optional<int32_t> status_, param_source_, history_status_;
  PairedSetting<std::string> path_;
  std::optional<KestiHistAdminTimePair> start_, end_;
  PairedSetting<int32_t> size_, timespan_;
  PairedSetting<float> threshold_;
  std::optional<float> percentage_;
};

// CLI11 validators: a path that fits a 256-byte field and holds no
// control byte; the same, not empty, for a file set (a file set without a
// path cannot be saved); a repository name of 1 to 30 characters without
// a control byte.
const CLI::Validator& PathFits();
const CLI::Validator& FileSetPath();
const CLI::Validator& RepositoryName();

// --status of a repository or file set: by name (not-saved, saved, marked,
// new) or by number (0 to 3); anything else is refused.
CLI::Option* AddStatusOption(CLI::App* command, std::optional<int32_t>& target,
                             const std::string& what);

// Why the time range of `record` is not one (an end before the start);
// empty when it is, or when its end is 0 (open).
std::string TimeRangeError(const KestiHistAdminFileSet& record);
// CLI11 validators for counts, sizes and times, which are never negative,
// and for floats, which must also be finite (no NaN, nothing that
// overflows a float to inf).
const CLI::Validator& NotNegative();
const CLI::Validator& FiniteNotNegative();

// Copies `text` into a fixed field, zero-filled behind it. The text must
// fit (validated on the command line).
template <std::size_t N>
void SetField(char (&field)[N], const std::string& text) {
  std::memset(field, 0, N);
  std::memcpy(field, text.data(), std::min(text.size(), N - 1));
}

}  // namespace kha::histadmin
