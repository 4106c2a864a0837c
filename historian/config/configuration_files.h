// Reading and writing the history configuration as the files of the
// configuration directory hold it.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "config/history_config.h"

namespace kha::historian {

enum class ConfigSource {
  kStored,   // config.dat and tune.dat
  kRunning,  // running.dat, or config.dat and tune.dat when there is none
};

// The raw texts of the files that make up one source.
struct ConfigFileTexts {
  bool from_running_snapshot = false;
  std::string running;  // running.dat, when from_running_snapshot
  std::string config;   // config.dat and tune.dat otherwise
  std::string tuning;
  bool operator==(const ConfigFileTexts&) const = default;
};

// Both functions fail when a file that the source needs is missing,
// unreadable or malformed; `error` then says why.
std::optional<ConfigFileTexts> ReadConfigFileTexts(ConfigSource source, std::string* error);
std::optional<HistoryConfig> ParseConfigFileTexts(const ConfigFileTexts& texts, std::string* error);

// Reads and parses in one step.
std::optional<HistoryConfig> ReadConfiguration(ConfigSource source, std::string* error = nullptr);

// Replaces config.dat and tune.dat with `config` (which must hold a tuning
// block), both or neither (see ReplaceFilesAtomically). Fails without a
// change when either text would be larger than the reader takes; `error`
// then says why, naming the file.
bool WriteStoredConfiguration(const HistoryConfig& config, std::string* error = nullptr);

// The configuration of a source as the files hold it now, for getters
// that are called once per repository and file set. Each call looks at the
// files' sizes and times of last change; the files are read again when
// those changed, or when a file had changed so shortly before the last
// read that a later write could have left its time unchanged. They are
// parsed again only when their bytes changed.
class ConfigurationCache {
 public:
  // Null when the files cannot be read or are malformed.
  std::shared_ptr<const HistoryConfig> Current(ConfigSource source);

 private:
  // Existence, size and time of last change of running.dat, config.dat
  // and tune.dat.
  struct FileStamp {
    bool exists = false;
    std::uintmax_t size = 0;
    std::filesystem::file_time_type written{};
    bool operator==(const FileStamp&) const = default;
  };
  using Stamps = std::array<FileStamp, 3>;
  static Stamps CurrentStamps();

  struct Entry {
    std::optional<ConfigFileTexts> texts;
    std::shared_ptr<const HistoryConfig> config;
    std::filesystem::path directory;
    Stamps stamps{};
    bool settled = false;  // every file was older than the settling time when read
  };
  std::mutex mutex_;
  Entry stored_;
  Entry running_;
};

}  // namespace kha::historian
