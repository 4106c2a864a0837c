// The C interface of marnuser: checks every pointer and string of the
// caller, turns the argument lists into the library's records, and lets
// no exception out.
#include <array>
#include <exception>

#include "config/c_strings.h"
#include "marnuser.h"
#include "marnuser/marn_library.h"

using kha::historian::CopyToBuffer;
using kha::historian::FileSetConfig;
using kha::historian::kMarnBadArgument;
using kha::historian::kMarnInternalError;
using kha::historian::kMarnOk;
using kha::historian::kMarnOutOfRange;
using kha::historian::RepositoryConfig;
using kha::historian::TerminatedString;
using kha::historian::TheMarnLibrary;
using kha::historian::TimePair;
using kha::historian::TuningConfig;

namespace {

constexpr std::size_t kNameBufferSize = 32;

template <typename Body>
int Guarded(Body body) noexcept {
  try {
    return body();
  } catch (...) {
    return kMarnInternalError;
  }
}

bool ReadPath(const char* buffer, std::string& out) {
  const auto text = TerminatedString(buffer, MARN_PATH_SIZE);
  if (!text) return false;
  out.assign(*text);
  return true;
}

// The element of a list of a source's configuration; null when the index
// is beyond it.
template <typename List>
auto ElementAt(const List& list, int index) -> decltype(&list[0]) {
  if (index < 0 || static_cast<std::size_t>(index) >= list.size()) return nullptr;
  return &list[static_cast<std::size_t>(index)];
}

template <typename... Pointers>
bool AllSet(Pointers... pointers) {
  return ((pointers != nullptr) && ...);
}

}  // namespace

extern "C" {

MARNUSER_API int MARN_CALL marn_read_hist_config(void) {
  return Guarded([] { return TheMarnLibrary().ReadHistConfig(); });
}

MARNUSER_API int MARN_CALL marn_write_hist_config(void) {
  return Guarded([] { return TheMarnLibrary().WriteHistConfig(); });
}

MARNUSER_API int MARN_CALL marn_free_hist_config(void) {
  return Guarded([] { return TheMarnLibrary().FreeHistConfig(); });
}

MARNUSER_API int MARN_CALL marn_init_hist_config(int number_repositories,
                                                 const int16_t* file_set_counts) {
  return Guarded(
      [&] { return TheMarnLibrary().InitHistConfig(number_repositories, file_set_counts); });
}

MARNUSER_API int MARN_CALL marn_get_number_repositories(int source, int16_t* count) {
  return Guarded([&] {
    if (count == nullptr) return static_cast<int>(kMarnBadArgument);
    int result = kMarnOk;
    const auto config = TheMarnLibrary().Source(source, result);
    if (!config) return result;
    *count = static_cast<int16_t>(config->repositories.size());
    return static_cast<int>(kMarnOk);
  });
}

MARNUSER_API int MARN_CALL marn_get_number_arcs(int source, int repository_index, int16_t* count) {
  return Guarded([&] {
    if (count == nullptr) return static_cast<int>(kMarnBadArgument);
    int result = kMarnOk;
    const auto config = TheMarnLibrary().Source(source, result);
    if (!config) return result;
    const auto* repository = ElementAt(config->repositories, repository_index);
    if (repository == nullptr) return static_cast<int>(kMarnOutOfRange);
    *count = static_cast<int16_t>(repository->file_sets.size());
    return static_cast<int>(kMarnOk);
  });
}

MARNUSER_API int MARN_CALL marn_get_rep_data(int source, int repository_index, void* /*reserved*/,
                                             char* file_path, char* backup_file_path,
                                             int32_t* number_points, int16_t* file_set_count,
                                             int32_t* queue_size, int32_t* global_file_set_size,
                                             float* global_threshold, int32_t* global_time_span,
                                             int32_t* past_time, int32_t* future_time,
                                             int32_t* cache_size, int32_t* insert_size,
                                             int32_t* empty_file_sets) {
  return Guarded([&] {
    if (!AllSet(file_path, backup_file_path, number_points, file_set_count, queue_size,
                global_file_set_size, global_threshold, global_time_span, past_time, future_time,
                cache_size, insert_size, empty_file_sets)) {
      return static_cast<int>(kMarnBadArgument);
    }
    int result = kMarnOk;
    const auto config = TheMarnLibrary().Source(source, result);
    if (!config) return result;
    const RepositoryConfig* repository = ElementAt(config->repositories, repository_index);
    if (repository == nullptr) return static_cast<int>(kMarnOutOfRange);
    CopyToBuffer(repository->file_path, file_path, MARN_PATH_SIZE);
    CopyToBuffer(repository->backup_file_path, backup_file_path, MARN_PATH_SIZE);
    *number_points = repository->number_points;
    *file_set_count = static_cast<int16_t>(repository->file_sets.size());
    *queue_size = repository->queue_size;
    *global_file_set_size = repository->global_file_set_size;
    *global_threshold = repository->global_threshold;
    *global_time_span = repository->global_time_span;
    *past_time = repository->past_time;
    *future_time = repository->future_time;
    *cache_size = repository->cache_size;
    *insert_size = repository->insert_size;
    *empty_file_sets = repository->empty_file_sets;
    return static_cast<int>(kMarnOk);
  });
}

MARNUSER_API int MARN_CALL marn_put_rep_data(
    int save_index, const char* repository_name, const char* file_path,
    const char* backup_file_path, const int32_t* number_points, const int16_t* file_set_count,
    const int32_t* queue_size, const int32_t* global_file_set_size, const float* global_threshold,
    const int32_t* global_time_span, const int32_t* past_time, const int32_t* future_time,
    const int32_t* cache_size, const int32_t* insert_size, const int32_t* empty_file_sets) {
  return Guarded([&] {
    if (!AllSet(number_points, file_set_count, queue_size, global_file_set_size, global_threshold,
                global_time_span, past_time, future_time, cache_size, insert_size,
                empty_file_sets)) {
      return static_cast<int>(kMarnBadArgument);
    }
    RepositoryConfig repository;
    const auto name = TerminatedString(repository_name, kNameBufferSize);
    if (!name || !ReadPath(file_path, repository.file_path) ||
        !ReadPath(backup_file_path, repository.backup_file_path)) {
      return static_cast<int>(kMarnBadArgument);
    }
    repository.name.assign(*name);
    repository.number_points = *number_points;
    repository.queue_size = *queue_size;
    repository.global_file_set_size = *global_file_set_size;
    repository.global_threshold = *global_threshold;
    repository.global_time_span = *global_time_span;
    repository.past_time = *past_time;
    repository.future_time = *future_time;
    repository.cache_size = *cache_size;
    repository.insert_size = *insert_size;
    repository.empty_file_sets = *empty_file_sets;
    return TheMarnLibrary().PutRepository(save_index, std::move(repository), *file_set_count);
  });
}

MARNUSER_API int MARN_CALL marn_get_arc_data(int source, int repository_index, int arc_index,
                                             int16_t* history_status, char* file_path,
                                             marn_time* start_time, marn_time* end_time,
                                             int32_t* size, float* threshold, int32_t* time_span) {
  return Guarded([&] {
    if (!AllSet(history_status, file_path, start_time, end_time, size, threshold, time_span)) {
      return static_cast<int>(kMarnBadArgument);
    }
    int result = kMarnOk;
    const auto config = TheMarnLibrary().Source(source, result);
    if (!config) return result;
    const RepositoryConfig* repository = ElementAt(config->repositories, repository_index);
    if (repository == nullptr) return static_cast<int>(kMarnOutOfRange);
    const FileSetConfig* file_set = ElementAt(repository->file_sets, arc_index);
    if (file_set == nullptr) return static_cast<int>(kMarnOutOfRange);
    *history_status = file_set->history_status;
    CopyToBuffer(file_set->file_path, file_path, MARN_PATH_SIZE);
    *start_time = marn_time{file_set->start_time.seconds, file_set->start_time.microseconds};
    *end_time = marn_time{file_set->end_time.seconds, file_set->end_time.microseconds};
    *size = file_set->size;
    *threshold = file_set->threshold;
    *time_span = file_set->time_span;
    return static_cast<int>(kMarnOk);
  });
}

MARNUSER_API int MARN_CALL marn_put_arc_data(int save_index, int arc_index,
                                             const int16_t* history_status, const char* file_path,
                                             const marn_time* start_time, const marn_time* end_time,
                                             const int32_t* size, const float* threshold,
                                             const int32_t* time_span) {
  return Guarded([&] {
    if (!AllSet(history_status, start_time, end_time, size, threshold, time_span)) {
      return static_cast<int>(kMarnBadArgument);
    }
    FileSetConfig file_set;
    if (!ReadPath(file_path, file_set.file_path)) return static_cast<int>(kMarnBadArgument);
    file_set.history_status = *history_status;
    file_set.start_time = TimePair{start_time->seconds, start_time->microseconds};
    file_set.end_time = TimePair{end_time->seconds, end_time->microseconds};
    file_set.size = *size;
    file_set.threshold = *threshold;
    file_set.time_span = *time_span;
    return TheMarnLibrary().PutFileSet(save_index, arc_index, std::move(file_set));
  });
}

MARNUSER_API int MARN_CALL marn_get_tuning_data(MARN_TUNING_ARGS(int32_t, int16_t)) {
  (void)reserved1;
  (void)reserved2;
  return Guarded([&] {
    const std::array<int32_t*, 40> wide = {
        t1,  t2,  t3,  t4,  t5,  t6,  t7,  t8,  t9,  t10, t11, nullptr, nullptr, t14,
        t15, t16, t17, t18, t19, t20, t21, t22, t23, t24, t25, t26,     t27,     t28,
        t29, t30, t31, t32, t33, t34, t35, t36, t37, t38, t39, t40};
    if (t12 == nullptr || t13 == nullptr) return static_cast<int>(kMarnBadArgument);
    for (std::size_t i = 0; i < wide.size(); ++i) {
      if (i != 11 && i != 12 && wide[i] == nullptr) return static_cast<int>(kMarnBadArgument);
    }
    TuningConfig tuning;
    if (const int result = TheMarnLibrary().GetTuning(tuning); result != kMarnOk) return result;
    for (std::size_t i = 0; i < wide.size(); ++i) {
      if (wide[i] != nullptr) *wide[i] = tuning.values[i];
    }
    *t12 = static_cast<int16_t>(tuning.values[11]);
    *t13 = static_cast<int16_t>(tuning.values[12]);
    return static_cast<int>(kMarnOk);
  });
}

MARNUSER_API int MARN_CALL marn_put_tuning_data(MARN_TUNING_ARGS(const int32_t, const int16_t)) {
  (void)reserved1;
  (void)reserved2;
  return Guarded([&] {
    const std::array<const int32_t*, 40> wide = {
        t1,  t2,  t3,  t4,  t5,  t6,  t7,  t8,  t9,  t10, t11, nullptr, nullptr, t14,
        t15, t16, t17, t18, t19, t20, t21, t22, t23, t24, t25, t26,     t27,     t28,
        t29, t30, t31, t32, t33, t34, t35, t36, t37, t38, t39, t40};
    if (t12 == nullptr || t13 == nullptr) return static_cast<int>(kMarnBadArgument);
    TuningConfig tuning;
    for (std::size_t i = 0; i < wide.size(); ++i) {
      if (i == 11 || i == 12) continue;
      if (wide[i] == nullptr) return static_cast<int>(kMarnBadArgument);
      tuning.values[i] = *wide[i];
    }
    tuning.values[11] = *t12;
    tuning.values[12] = *t13;
    TheMarnLibrary().PutTuning(tuning);
    return static_cast<int>(kMarnOk);
  });
}

}  // extern "C"
