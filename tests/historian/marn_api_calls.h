// Drives marnuser through its C interface only: puts a whole
// configuration the way a save does, and reads one back the way a load
// does, so that tests compare what went in with what came out.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "config/history_config.h"
#include "marnuser.h"

namespace kha::test {

// Calls marn_get_tuning_data or marn_put_tuning_data with the values'
// pointers in the library's order: the two reserved ones null, values 12
// and 13 through their 16-bit pointers (v[11] and v[12] are not passed).
template <typename Function, typename P32, typename P16>
int CallTuning(Function function, const std::array<P32*, 40>& v, P16* t12, P16* t13) {
  return function(v[0], v[1], nullptr, v[2], v[3], v[4], v[5], v[6], v[7], v[8], v[9], v[10], t12,
                  t13, nullptr, v[13], v[14], v[15], v[16], v[17], v[18], v[19], v[20], v[21],
                  v[22], v[23], v[24], v[25], v[26], v[27], v[28], v[29], v[30], v[31], v[32],
                  v[33], v[34], v[35], v[36], v[37], v[38], v[39]);
}

inline int PutTuningThroughApi(const historian::TuningConfig& tuning) {
  std::array<const int32_t*, 40> v{};
  for (std::size_t i = 0; i < v.size(); ++i) v[i] = &tuning.values[i];
  const int16_t t12 = static_cast<int16_t>(tuning.values[11]);
  const int16_t t13 = static_cast<int16_t>(tuning.values[12]);
  return CallTuning(marn_put_tuning_data, v, &t12, &t13);
}

inline int GetTuningThroughApi(historian::TuningConfig& tuning) {
  std::array<int32_t*, 40> v{};
  for (std::size_t i = 0; i < v.size(); ++i) v[i] = &tuning.values[i];
  int16_t t12 = 0;
  int16_t t13 = 0;
  const int result = CallTuning(marn_get_tuning_data, v, &t12, &t13);
  tuning.values[11] = t12;
  tuning.values[12] = t13;
  return result;
}

inline int PutRepositoryThroughApi(int i, const historian::RepositoryConfig& r, int16_t count) {
  return marn_put_rep_data(i, r.name.c_str(), r.file_path.c_str(), r.backup_file_path.c_str(),
                           &r.number_points, &count, &r.queue_size, &r.global_file_set_size,
                           &r.global_threshold, &r.global_time_span, &r.past_time, &r.future_time,
                           &r.cache_size, &r.insert_size, &r.empty_file_sets);
}

inline int PutFileSetThroughApi(int i, int j, const historian::FileSetConfig& f) {
  const marn_time start{f.start_time.seconds, f.start_time.microseconds};
  const marn_time end{f.end_time.seconds, f.end_time.microseconds};
  return marn_put_arc_data(i, j, &f.history_status, f.file_path.c_str(), &start, &end, &f.size,
                           &f.threshold, &f.time_span);
}

// The save sequence up to the final write; the first failing call's
// result, or 0.
inline int PutThroughApi(const historian::HistoryConfig& config) {
  if (int r = PutTuningThroughApi(config.tuning.value_or(historian::TuningConfig{})); r != 0) {
    return r;
  }
  if (int r = marn_free_hist_config(); r != 0) return r;
  std::vector<int16_t> counts;
  for (const auto& repository : config.repositories) {
    counts.push_back(static_cast<int16_t>(repository.file_sets.size()));
  }
  if (!counts.empty()) {
    if (int r = marn_init_hist_config(static_cast<int>(counts.size()), counts.data()); r != 0) {
      return r;
    }
  }
  for (std::size_t i = 0; i < config.repositories.size(); ++i) {
    const auto& repository = config.repositories[i];
    if (int r = PutRepositoryThroughApi(static_cast<int>(i), repository, counts[i]); r != 0) {
      return r;
    }
    for (std::size_t j = 0; j < repository.file_sets.size(); ++j) {
      if (int r = PutFileSetThroughApi(static_cast<int>(i), static_cast<int>(j),
                                       repository.file_sets[j]);
          r != 0) {
        return r;
      }
    }
  }
  return 0;
}

// The whole save sequence; the first failing call's result, or 0.
inline int SaveThroughApi(const historian::HistoryConfig& config) {
  if (int r = PutThroughApi(config); r != 0) return r;
  return marn_write_hist_config();
}

// Everything a source shows through the getters (names are not part of
// marnuser's interface: they come back empty). Nothing when a getter fails.
inline std::optional<historian::HistoryConfig> LoadThroughApi(int source) {
  historian::HistoryConfig config;
  int16_t count = -1;
  if (marn_get_number_repositories(source, &count) != 0) return std::nullopt;
  for (int i = 0; i < count; ++i) {
    historian::RepositoryConfig r;
    char path[MARN_PATH_SIZE];
    char backup[MARN_PATH_SIZE];
    int16_t arcs_in_header = -1;
    if (marn_get_rep_data(source, i, nullptr, path, backup, &r.number_points, &arcs_in_header,
                          &r.queue_size, &r.global_file_set_size, &r.global_threshold,
                          &r.global_time_span, &r.past_time, &r.future_time, &r.cache_size,
                          &r.insert_size, &r.empty_file_sets) != 0) {
      return std::nullopt;
    }
    r.file_path = path;
    r.backup_file_path = backup;
    int16_t arcs = -1;
    if (marn_get_number_arcs(source, i, &arcs) != 0 || arcs != arcs_in_header) return std::nullopt;
    for (int j = 0; j < arcs; ++j) {
      historian::FileSetConfig f;
      char file_path[MARN_PATH_SIZE];
      marn_time start{};
      marn_time end{};
      if (marn_get_arc_data(source, i, j, &f.history_status, file_path, &start, &end, &f.size,
                            &f.threshold, &f.time_span) != 0) {
        return std::nullopt;
      }
      f.file_path = file_path;
      f.start_time = {start.seconds, start.microseconds};
      f.end_time = {end.seconds, end.microseconds};
      r.file_sets.push_back(f);
    }
    config.repositories.push_back(r);
  }
  return config;
}

// `config` with every repository name blanked, as LoadThroughApi gives it.
inline historian::HistoryConfig WithoutNames(historian::HistoryConfig config) {
  config.tuning.reset();
  for (auto& repository : config.repositories) repository.name.clear();
  return config;
}

// Expects `source` to show `config` through the getters (names aside).
inline void ExpectShows(int source, const historian::HistoryConfig& config, const char* what = "") {
  const auto loaded = LoadThroughApi(source);
  ASSERT_TRUE(loaded.has_value()) << what;
  EXPECT_TRUE(historian::IdenticalConfig(*loaded, WithoutNames(config))) << what;
}

}  // namespace kha::test
