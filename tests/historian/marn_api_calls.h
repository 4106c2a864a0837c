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

// Each helper passes the pointers of its call in the library's order; the
// pointer at position `missing` of that list (counted from 0, reserved
// pointers not counted) is passed null instead.
template <typename T>
T* Unless(int missing, int k, T* pointer) {
  return k == missing ? nullptr : pointer;
}

// Calls marn_get_tuning_data or marn_put_tuning_data with the 40 values'
// pointers: values 12 and 13 through their 16-bit copies.
template <typename Function, typename Values, typename Short>
int CallTuning(Function function, Values& values, Short& t12, Short& t13, int missing) {
  std::array<decltype(&values[0]), 40> v{};
  for (int k = 0; k < 40; ++k)
    v[static_cast<std::size_t>(k)] = Unless(missing, k, &values[static_cast<std::size_t>(k)]);
  const auto p12 = Unless(missing, 11, &t12);
  const auto p13 = Unless(missing, 12, &t13);
  return function(v[0], v[1], nullptr, v[2], v[3], v[4], v[5], v[6], v[7], v[8], v[9], v[10], p12,
                  p13, nullptr, v[13], v[14], v[15], v[16], v[17], v[18], v[19], v[20], v[21],
                  v[22], v[23], v[24], v[25], v[26], v[27], v[28], v[29], v[30], v[31], v[32],
                  v[33], v[34], v[35], v[36], v[37], v[38], v[39]);
}

inline int PutTuningThroughApi(const historian::TuningConfig& tuning, int missing = -1) {
  const int16_t t12 = static_cast<int16_t>(tuning.values[11]);
  const int16_t t13 = static_cast<int16_t>(tuning.values[12]);
  return CallTuning(marn_put_tuning_data, tuning.values, t12, t13, missing);
}

inline int GetTuningThroughApi(historian::TuningConfig& tuning, int missing = -1) {
  int16_t t12 = 0;
  int16_t t13 = 0;
  const int result = CallTuning(marn_get_tuning_data, tuning.values, t12, t13, missing);
  tuning.values[11] = t12;
  tuning.values[12] = t13;
  return result;
}

inline int PutRepositoryThroughApi(int i, const historian::RepositoryConfig& r, int16_t count,
                                   int missing = -1) {
  const auto p = [missing](int k, auto* pointer) { return Unless(missing, k, pointer); };
  return marn_put_rep_data(i, p(0, r.name.c_str()), p(1, r.file_path.c_str()),
                           p(2, r.backup_file_path.c_str()), p(3, &r.number_points), p(4, &count),
                           p(5, &r.queue_size), p(6, &r.global_file_set_size),
                           p(7, &r.global_threshold), p(8, &r.global_time_span), p(9, &r.past_time),
                           p(10, &r.future_time), p(11, &r.cache_size), p(12, &r.insert_size),
                           p(13, &r.empty_file_sets));
}

// Repository `i` of `source` into `r` (its name aside), and the number of
// file sets its header reports into `count`.
inline int GetRepositoryThroughApi(int source, int i, historian::RepositoryConfig& r,
                                   int16_t& count, int missing = -1) {
  const auto p = [missing](int k, auto* pointer) { return Unless(missing, k, pointer); };
  char path[MARN_PATH_SIZE];
  char backup[MARN_PATH_SIZE];
  const int result = marn_get_rep_data(
      source, i, nullptr, p(0, path), p(1, backup), p(2, &r.number_points), p(3, &count),
      p(4, &r.queue_size), p(5, &r.global_file_set_size), p(6, &r.global_threshold),
      p(7, &r.global_time_span), p(8, &r.past_time), p(9, &r.future_time), p(10, &r.cache_size),
      p(11, &r.insert_size), p(12, &r.empty_file_sets));
  if (result == 0) {
    r.file_path = path;
    r.backup_file_path = backup;
  }
  return result;
}

inline int PutFileSetThroughApi(int i, int j, const historian::FileSetConfig& f, int missing = -1) {
  const auto p = [missing](int k, auto* pointer) { return Unless(missing, k, pointer); };
  const marn_time start{f.start_time.seconds, f.start_time.microseconds};
  const marn_time end{f.end_time.seconds, f.end_time.microseconds};
  return marn_put_arc_data(i, j, p(0, &f.history_status), p(1, f.file_path.c_str()), p(2, &start),
                           p(3, &end), p(4, &f.size), p(5, &f.threshold), p(6, &f.time_span));
}

inline int GetFileSetThroughApi(int source, int i, int j, historian::FileSetConfig& f,
                                int missing = -1) {
  const auto p = [missing](int k, auto* pointer) { return Unless(missing, k, pointer); };
  char path[MARN_PATH_SIZE];
  marn_time start{};
  marn_time end{};
  const int result =
      marn_get_arc_data(source, i, j, p(0, &f.history_status), p(1, path), p(2, &start), p(3, &end),
                        p(4, &f.size), p(5, &f.threshold), p(6, &f.time_span));
  if (result == 0) {
    f.file_path = path;
    f.start_time = {start.seconds, start.microseconds};
    f.end_time = {end.seconds, end.microseconds};
  }
  return result;
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
    int16_t arcs_in_header = -1;
    int16_t arcs = -1;
    if (GetRepositoryThroughApi(source, i, r, arcs_in_header) != 0 ||
        marn_get_number_arcs(source, i, &arcs) != 0 || arcs != arcs_in_header) {
      return std::nullopt;
    }
    for (int j = 0; j < arcs; ++j) {
      if (GetFileSetThroughApi(source, i, j, r.file_sets.emplace_back()) != 0) return std::nullopt;
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
