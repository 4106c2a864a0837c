// The history configuration as the historian's two libraries hold it in
// memory: the tuning block and the repositories with their file sets (the
// historian calls a file set an arc). config.dat holds the repositories,
// tune.dat the tuning block, running.dat both (the running historian's
// configuration). Every value is kept exactly as it was put or read.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kha::historian {

// Longest path and repository name, in bytes, without the terminating
// zero: the callers' buffers are 256 and 32 bytes.
inline constexpr std::size_t kMaxPathLength = 255;
inline constexpr std::size_t kMaxNameLength = 31;

struct TimePair {
  int32_t seconds = 0;
  int32_t microseconds = 0;
};

struct FileSetConfig {
  int16_t history_status = 0;
  std::string file_path;
  TimePair start_time;
  TimePair end_time;
  int32_t size = 0;  // -1: the repository's global file-set size
  float threshold = 0.0f;
  int32_t time_span = 0;
};

struct RepositoryConfig {
  std::string name;
  std::string file_path;
  std::string backup_file_path;
  int32_t number_points = 0;
  int32_t queue_size = 0;
  int32_t global_file_set_size = 0;
  float global_threshold = 0.0f;
  int32_t global_time_span = 0;
  int32_t past_time = 0;
  int32_t future_time = 0;
  int32_t cache_size = 0;
  int32_t insert_size = 0;
  int32_t empty_file_sets = 0;
  std::vector<FileSetConfig> file_sets;
};

// The 40 tuning values, numbered 1 to 40 (value n at values[n - 1]).
// Values 12 and 13 are 16-bit; every other one is a 32-bit integer.
inline constexpr int kTuningValueCount = 40;
struct TuningConfig {
  std::array<int32_t, kTuningValueCount> values{};
};

constexpr bool IsSixteenBitTuningValue(int number) { return number == 12 || number == 13; }

struct HistoryConfig {
  std::optional<TuningConfig> tuning;
  std::vector<RepositoryConfig> repositories;
};

// Equal in every value, floats compared bit for bit (so -0.0 differs from
// 0.0 and a NaN equals the same NaN).
bool IdenticalConfig(const HistoryConfig& a, const HistoryConfig& b);

}  // namespace kha::historian
