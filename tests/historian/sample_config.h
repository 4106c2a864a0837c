// A configuration that uses the awkward corners of every value: extreme
// and negative integers, the -1 markers, floats that do not print simply,
// signed zero, infinities, NaNs with payloads, longest names and paths,
// bytes that are not UTF-8, characters that need escaping.
#pragma once

#include <cfloat>
#include <cstdint>
#include <limits>
#include <string>

#include "config/float_text.h"
#include "config/history_config.h"

namespace kha::test {

inline const float kAwkwardFloats[] = {
    0.1f,
    1e-38f,
    -0.0f,
    0.0f,
    FLT_MAX,
    -FLT_MAX,
    FLT_MIN,
    1e-45f /* subnormal */,
    -1.0f,
    1.0f / 3,
    16777217.0f,
    123456.789f,
    std::numeric_limits<float>::infinity(),
    -std::numeric_limits<float>::infinity(),
    historian::FloatFromBits(0x7FC00000u) /* the plain NaN */,
    historian::FloatFromBits(0xFFC00000u) /* negative NaN */,
    historian::FloatFromBits(0x7FC00001u) /* payload */,
    historian::FloatFromBits(0x7F800001u) /* signalling */,
};

inline historian::FileSetConfig SampleFileSet(int k) {
  historian::FileSetConfig file_set;
  file_set.history_status = static_cast<int16_t>(k % 2 == 0 ? INT16_MIN : INT16_MAX);
  file_set.file_path = "D:\\history\\plant\\fs" + std::to_string(k) + ".dat";
  file_set.start_time = {1700000000 + k, 999999};
  file_set.end_time = {k % 3 == 0 ? 0 : INT32_MAX, k % 3 == 0 ? 0 : INT32_MIN};
  file_set.size = k % 2 == 0 ? -1 : INT32_MAX;
  file_set.threshold = kAwkwardFloats[static_cast<std::size_t>(k) % std::size(kAwkwardFloats)];
  file_set.time_span = k % 2 == 0 ? -1 : INT32_MIN;
  return file_set;
}

inline historian::HistoryConfig SampleConfig() {
  historian::HistoryConfig config;
  historian::TuningConfig tuning;
  for (int n = 1; n <= historian::kTuningValueCount; ++n) {
    int32_t value = n * 1001 - 20000;
    if (n == 1) value = INT32_MIN;
    if (n == 2) value = INT32_MAX;
    if (n == 12) value = INT16_MIN;
    if (n == 13) value = INT16_MAX;
    if (n == 40) value = -1;
    tuning.values[static_cast<std::size_t>(n - 1)] = value;
  }
  config.tuning = tuning;

  historian::RepositoryConfig first;
  first.name = std::string(historian::kMaxNameLength, 'N');
  first.file_path = std::string(historian::kMaxPathLength, 'p');
  first.backup_file_path = "\\\\backup-host\\share\\with \"quotes\" and 'apostrophes'";
  first.number_points = INT32_MAX;
  first.queue_size = INT32_MIN;
  first.global_file_set_size = -1;
  first.global_threshold = 0.1f;
  first.global_time_span = -1;
  first.past_time = -3600;
  first.future_time = 86400;
  first.cache_size = 0;
  first.insert_size = 1;
  first.empty_file_sets = -2;
  for (int k = 0; k < static_cast<int>(std::size(kAwkwardFloats)); ++k) {
    first.file_sets.push_back(SampleFileSet(k));
  }

  historian::RepositoryConfig second;
  second.name = "caf\xE9";                               // Latin-1, not UTF-8
  second.file_path = "/var/lib/hist/\xC3\xA9t\xC3\xA9";  // UTF-8
  second.backup_file_path = "";
  second.global_threshold = historian::FloatFromBits(0xFFC00123u);
  second.file_sets.push_back(SampleFileSet(100));
  second.file_sets.back().file_path = "tab\tnew\nline\x01\x7F\xFF";

  historian::RepositoryConfig empty;
  empty.name = "EMPTY";
  empty.global_threshold = -0.0f;

  config.repositories = {first, second, empty};
  return config;
}

}  // namespace kha::test
