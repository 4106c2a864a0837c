#include "drell/drell_library.h"

#include <chrono>
#include <cstring>
#include <system_error>

#include "config/c_strings.h"
#include "config/config_directory.h"
#include "config/config_text.h"
#include "config/file_reading.h"
#include "config/history_config.h"
#include "config/shares_text.h"
#include "drell.h"
#include "drell/history_paths.h"

namespace kha::historian {

std::optional<int64_t> FileTimestamp(const std::filesystem::path& path) {
  std::error_code error;
  const auto status = std::filesystem::status(path, error);
  if (status.type() == std::filesystem::file_type::not_found) return 0;
  if (error) return std::nullopt;
  const auto written = std::filesystem::last_write_time(path, error);
  if (error) return std::nullopt;
  const auto since_epoch = std::chrono::file_clock::to_sys(written).time_since_epoch();
  return std::chrono::duration_cast<std::chrono::nanoseconds>(since_epoch).count();
}

void StoreTimestamp(int64_t nanoseconds, void* bytes) {
  const auto bits = static_cast<uint64_t>(nanoseconds);
  unsigned char little_endian[DRELL_TIMESTAMP_SIZE];
  for (std::size_t i = 0; i < sizeof little_endian; ++i) {
    little_endian[i] = static_cast<unsigned char>(bits >> (8 * i));
  }
  std::memcpy(bytes, little_endian, sizeof little_endian);
}

int DrellLibrary::PathAndTimestamp(ConfigFileKind kind, char* path, void* timestamp) {
  if (path == nullptr || timestamp == nullptr) return kDrellBadArgument;
  const auto file = ConfigFilePath(kind);
  const std::string text = NormaliseHistoryPath(file.string());
  if (text.size() > kMaxPathLength) return kDrellTooLong;
  const auto nanoseconds = FileTimestamp(file);
  if (!nanoseconds) return kDrellFileError;
  CopyToBuffer(text, path, DRELL_PATH_SIZE);
  StoreTimestamp(*nanoseconds, timestamp);
  return kDrellOk;
}

int DrellLibrary::RepositoryName(int source, int repository_index, char* name) {
  if (name == nullptr) return kDrellBadArgument;
  ConfigSource which;
  if (source == 0) {
    which = ConfigSource::kRunning;
  } else if (source == 1) {
    which = ConfigSource::kStored;
  } else {
    return kDrellBadArgument;
  }
  const auto config = cache_.Current(which);
  if (!config) return kDrellNoConfiguration;
  if (repository_index < 0 ||
      static_cast<std::size_t>(repository_index) >= config->repositories.size()) {
    return kDrellOutOfRange;
  }
  CopyToBuffer(config->repositories[static_cast<std::size_t>(repository_index)].name, name,
               DRELL_NAME_SIZE);
  return kDrellOk;
}

std::map<std::string, std::string> DrellLibrary::Shares() {
  std::string text;
  const ReadOutcome outcome = ReadWholeFile(SharesFilePath(), text, kMaxConfigTextSize);
  const std::lock_guard lock(shares_mutex_);
  if (outcome != ReadOutcome::kRead) {
    shares_text_.reset();
    shares_.clear();
  } else if (shares_text_ != text) {
    auto parsed = ParseSharesText(text);
    shares_ = parsed ? std::move(*parsed) : std::map<std::string, std::string>{};
    shares_text_ = std::move(text);
  }
  return shares_;
}

DrellLibrary& TheDrellLibrary() {
  static DrellLibrary library;
  return library;
}

}  // namespace kha::historian
