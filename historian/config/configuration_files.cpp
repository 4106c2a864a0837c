#include "config/configuration_files.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <system_error>

#include "config/atomic_files.h"
#include "config/config_directory.h"
#include "config/config_text.h"
#include "config/file_reading.h"

namespace kha::historian {

namespace {

bool SetError(std::string* error, std::string text) {
  if (error != nullptr) *error = std::move(text);
  return false;
}

std::string TooBig(const std::filesystem::path& path) {
  return path.string() + ": larger than " + std::to_string(kMaxConfigTextSize >> 20) + " MiB";
}

bool ReadRequiredFile(ConfigFileKind kind, std::string& contents, std::string* error) {
  const auto path = ConfigFilePath(kind);
  std::string reason;
  switch (ReadWholeFile(path, contents, kMaxConfigTextSize, &reason)) {
    case ReadOutcome::kRead:
      return true;
    case ReadOutcome::kMissing:
      return SetError(error, path.string() + ": no such file");
    case ReadOutcome::kTooBig:
      return SetError(error, TooBig(path));
    case ReadOutcome::kFailed:
      break;
  }
  return SetError(error, path.string() + ": cannot be read: " + reason);
}

std::optional<HistoryConfig> ParseOne(std::string_view text, ConfigFileKind kind,
                                      std::string* error) {
  std::string reason;
  auto config = ParseConfigText(text, kind, &reason);
  if (!config) SetError(error, ConfigFilePath(kind).filename().string() + ": " + reason);
  return config;
}

}  // namespace

std::optional<ConfigFileTexts> ReadConfigFileTexts(ConfigSource source, std::string* error) {
  ConfigFileTexts texts;
  if (source == ConfigSource::kRunning) {
    const auto path = ConfigFilePath(ConfigFileKind::kRunning);
    std::string reason;
    switch (ReadWholeFile(path, texts.running, kMaxConfigTextSize, &reason)) {
      case ReadOutcome::kRead:
        texts.from_running_snapshot = true;
        return texts;
      case ReadOutcome::kMissing:
        break;
      case ReadOutcome::kTooBig:
        SetError(error, TooBig(path));
        return std::nullopt;
      case ReadOutcome::kFailed:
        SetError(error, path.string() + ": cannot be read: " + reason);
        return std::nullopt;
    }
  }
  if (!ReadRequiredFile(ConfigFileKind::kConfig, texts.config, error) ||
      !ReadRequiredFile(ConfigFileKind::kTuning, texts.tuning, error)) {
    return std::nullopt;
  }
  return texts;
}

std::optional<HistoryConfig> ParseConfigFileTexts(const ConfigFileTexts& texts,
                                                  std::string* error) {
  if (texts.from_running_snapshot) return ParseOne(texts.running, ConfigFileKind::kRunning, error);
  auto config = ParseOne(texts.config, ConfigFileKind::kConfig, error);
  if (!config) return std::nullopt;
  auto tuning = ParseOne(texts.tuning, ConfigFileKind::kTuning, error);
  if (!tuning) return std::nullopt;
  config->tuning = tuning->tuning;
  return config;
}

std::optional<HistoryConfig> ReadConfiguration(ConfigSource source, std::string* error) {
  const auto texts = ReadConfigFileTexts(source, error);
  if (!texts) return std::nullopt;
  return ParseConfigFileTexts(*texts, error);
}

bool WriteStoredConfiguration(const HistoryConfig& config, std::string* error) {
  std::string ignored;
  if (error == nullptr) error = &ignored;
  if (!config.tuning) {
    *error = "no tuning block to write";
    return false;
  }
  const std::array<FileReplacement, 2> files = {
      FileReplacement{ConfigFilePath(ConfigFileKind::kTuning),
                      FormatConfigText(config, ConfigFileKind::kTuning)},
      FileReplacement{ConfigFilePath(ConfigFileKind::kConfig),
                      FormatConfigText(config, ConfigFileKind::kConfig)},
  };
  // A file the reader would refuse is never written: the old files stay.
  for (const auto& file : files) {
    if (file.contents.size() > kMaxConfigTextSize) {
      *error = file.path.string() + ": the new text would be larger than the reader takes";
      return false;
    }
  }
  return ReplaceFilesAtomically(files, error);
}

ConfigurationCache::Stamps ConfigurationCache::CurrentStamps() {
  Stamps stamps;
  const ConfigFileKind kinds[] = {ConfigFileKind::kRunning, ConfigFileKind::kConfig,
                                  ConfigFileKind::kTuning};
  for (std::size_t i = 0; i < stamps.size(); ++i) {
    const auto path = ConfigFilePath(kinds[i]);
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    if (error) continue;
    const auto written = std::filesystem::last_write_time(path, error);
    if (error) continue;
    stamps[i] = FileStamp{true, size, written};
  }
  return stamps;
}

std::shared_ptr<const HistoryConfig> ConfigurationCache::Current(ConfigSource source) {
  // A file written this long before a read cannot be written again with
  // the same time of last change on any file system we run on.
  constexpr auto kSettlingTime = std::chrono::seconds(2);
  const auto directory = ConfigDirectory();
  const Stamps stamps = CurrentStamps();
  {
    const std::lock_guard lock(mutex_);
    const Entry& entry = source == ConfigSource::kRunning ? running_ : stored_;
    if (entry.texts && entry.settled && entry.stamps == stamps && entry.directory == directory) {
      return entry.config;
    }
  }
  const auto read_at = std::filesystem::file_time_type::clock::now();
  auto texts = ReadConfigFileTexts(source, nullptr);
  const std::lock_guard lock(mutex_);
  Entry& entry = source == ConfigSource::kRunning ? running_ : stored_;
  if (!texts) {
    entry = Entry{};
    return nullptr;
  }
  if (entry.texts != texts) {
    auto config = ParseConfigFileTexts(*texts, nullptr);
    entry.texts = std::move(texts);
    entry.config = config ? std::make_shared<const HistoryConfig>(std::move(*config)) : nullptr;
  }
  entry.directory = directory;
  entry.stamps = stamps;
  entry.settled = std::all_of(stamps.begin(), stamps.end(), [&](const FileStamp& stamp) {
    return !stamp.exists || stamp.written + kSettlingTime < read_at;
  });
  return entry.config;
}

}  // namespace kha::historian
