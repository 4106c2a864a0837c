#include "transfer/historian_double.h"

#include <cstdio>
#include <cstring>
#include <sstream>

#include "historian/drell.h"
#include "historian/marnuser.h"

namespace kha::test {
namespace {

constexpr int kFailure = 1;

// The bytes a library writes for `text` into a buffer of `size` bytes:
// terminated when it fits, the first `size` bytes otherwise.
void WriteBounded(char* buffer, std::size_t size, const std::string& text) {
  std::memset(buffer, 0, size);
  std::memcpy(buffer, text.data(), text.size() < size ? text.size() : size);
}

std::string ReadBounded(const char* buffer, std::size_t size) {
  return buffer == nullptr ? std::string("(null)") : std::string(buffer, strnlen(buffer, size));
}

std::string Format(float value) {
  char text[64];
  std::snprintf(text, sizeof(text), "%g", static_cast<double>(value));
  return text;
}

std::string Join(std::initializer_list<std::string> parts) {
  std::string joined;
  for (const std::string& part : parts) {
    if (!joined.empty()) joined += ' ';
    joined += part;
  }
  return joined;
}

std::string Str(int64_t value) { return std::to_string(value); }
std::string Time(const marn_time& t) { return Str(t.seconds) + "." + Str(t.microseconds); }

HistorianDouble& D() { return HistorianDouble::Instance(); }

const historian::RepositoryConfig* Repository(int source, int index) {
  DoubleConfiguration* configuration = D().Source(source);
  if (configuration == nullptr || index < 0 ||
      static_cast<std::size_t>(index) >= configuration->repositories.size()) {
    return nullptr;
  }
  return &configuration->repositories[static_cast<std::size_t>(index)];
}

}  // namespace

HistorianDouble& HistorianDouble::Instance() {
  static HistorianDouble instance;
  return instance;
}

void HistorianDouble::Reset() { *this = HistorianDouble(); }

std::vector<std::string> HistorianDouble::Lines(const std::string& function) const {
  std::vector<std::string> lines;
  for (const DoubleCall& call : calls) {
    if (function.empty() || call.function == function) lines.push_back(call.Line());
  }
  return lines;
}

int HistorianDouble::Count(const std::string& function) const {
  const auto found = counts_.find(function);
  return found == counts_.end() ? 0 : found->second;
}

void HistorianDouble::FailNth(const std::string& function, int nth) {
  fail_nth_[function].push_back(Count(function) + nth);
}

void HistorianDouble::FailWhen(const std::string& function,
                               std::function<bool(const std::string&)> predicate) {
  fail_when_[function] = std::move(predicate);
}

bool HistorianDouble::Enter(const std::string& function, const std::string& arguments) {
  if (on_call) on_call(function);
  const int nth = ++counts_[function];
  if (record_calls) calls.push_back({function, arguments});
  if (const auto found = fail_nth_.find(function); found != fail_nth_.end()) {
    for (int n : found->second) {
      if (n == nth) return false;
    }
  }
  if (const auto found = fail_when_.find(function); found != fail_when_.end()) {
    if (found->second(arguments)) return false;
  }
  return true;
}

DoubleConfiguration* HistorianDouble::Source(int source) {
  if (source == MARN_SOURCE_RUNNING) return &running;
  if (source == MARN_SOURCE_CONFIG) return &read;
  return nullptr;
}

}  // namespace kha::test

using kha::test::D;
using kha::test::Join;
using kha::test::kFailure;
using kha::test::ReadBounded;
using kha::test::Str;

extern "C" {

int marn_read_hist_config(void) {
  if (!D().Enter("marn_read_hist_config", "")) return kFailure;
  D().read = D().files;
  D().tuning_from_files = true;
  return 0;
}

int marn_write_hist_config(void) {
  if (!D().Enter("marn_write_hist_config", "")) return kFailure;
  // A configuration that was freed and not set up again is written empty.
  D().files.repositories = D().built_is_set_up ? D().built.repositories
                                               : std::vector<kha::historian::RepositoryConfig>{};
  D().files.tuning = D().built.tuning;
  return 0;
}

int marn_free_hist_config(void) {
  if (!D().Enter("marn_free_hist_config", "")) return kFailure;
  D().built.repositories.clear();
  D().built_is_set_up = false;
  return 0;
}

int marn_init_hist_config(int number_repositories, const int16_t* file_set_counts) {
  std::string arguments = Str(number_repositories);
  for (int i = 0; i < number_repositories; ++i) arguments += " " + Str(file_set_counts[i]);
  if (!D().Enter("marn_init_hist_config", arguments)) return kFailure;
  D().built.repositories.assign(static_cast<std::size_t>(number_repositories), {});
  for (int i = 0; i < number_repositories; ++i) {
    D().built.repositories[static_cast<std::size_t>(i)].file_sets.resize(
        static_cast<std::size_t>(file_set_counts[i] < 0 ? 0 : file_set_counts[i]));
  }
  D().built_is_set_up = true;
  return 0;
}

int marn_get_number_repositories(int source, int16_t* count) {
  if (!D().Enter("marn_get_number_repositories", Str(source))) return kFailure;
  const kha::test::DoubleConfiguration* configuration = D().Source(source);
  if (configuration == nullptr) return kFailure;
  *count = configuration->reported_repository_count.value_or(
      static_cast<int16_t>(configuration->repositories.size()));
  return 0;
}

int marn_get_number_arcs(int source, int repository_index, int16_t* count) {
  if (!D().Enter("marn_get_number_arcs", Join({Str(source), Str(repository_index)}))) {
    return kFailure;
  }
  const kha::historian::RepositoryConfig* repository =
      kha::test::Repository(source, repository_index);
  if (repository == nullptr) return kFailure;
  const auto& reported = D().Source(source)->reported_arc_counts;
  const auto found = reported.find(repository_index);
  *count =
      found != reported.end() ? found->second : static_cast<int16_t>(repository->file_sets.size());
  return 0;
}

int marn_get_rep_data(int source, int repository_index, void* reserved, char* file_path,
                      char* backup_file_path, int32_t* number_points, int16_t* file_set_count,
                      int32_t* queue_size, int32_t* global_file_set_size, float* global_threshold,
                      int32_t* global_time_span, int32_t* past_time, int32_t* future_time,
                      int32_t* cache_size, int32_t* insert_size, int32_t* empty_file_sets) {
  if (!D().Enter("marn_get_rep_data", Join({Str(source), Str(repository_index),
                                            reserved == nullptr ? "null" : "non-null"}))) {
    return kFailure;
  }
  const kha::historian::RepositoryConfig* r = kha::test::Repository(source, repository_index);
  if (r == nullptr) return kFailure;
  kha::test::WriteBounded(file_path, MARN_PATH_SIZE, r->file_path);
  kha::test::WriteBounded(backup_file_path, MARN_PATH_SIZE, r->backup_file_path);
  *number_points = r->number_points;
  *file_set_count = static_cast<int16_t>(r->file_sets.size());
  *queue_size = r->queue_size;
  *global_file_set_size = r->global_file_set_size;
  *global_threshold = r->global_threshold;
  *global_time_span = r->global_time_span;
  *past_time = r->past_time;
  *future_time = r->future_time;
  *cache_size = r->cache_size;
  *insert_size = r->insert_size;
  *empty_file_sets = r->empty_file_sets;
  return 0;
}

int marn_put_rep_data(int save_index, const char* repository_name, const char* file_path,
                      const char* backup_file_path, const int32_t* number_points,
                      const int16_t* file_set_count, const int32_t* queue_size,
                      const int32_t* global_file_set_size, const float* global_threshold,
                      const int32_t* global_time_span, const int32_t* past_time,
                      const int32_t* future_time, const int32_t* cache_size,
                      const int32_t* insert_size, const int32_t* empty_file_sets) {
  const std::string name = ReadBounded(repository_name, 32);
  const std::string path = ReadBounded(file_path, MARN_PATH_SIZE);
  const std::string backup = ReadBounded(backup_file_path, MARN_PATH_SIZE);
  if (!D().Enter(
          "marn_put_rep_data",
          Join({Str(save_index), name, path, backup, Str(*number_points), Str(*file_set_count),
                Str(*queue_size), Str(*global_file_set_size), kha::test::Format(*global_threshold),
                Str(*global_time_span), Str(*past_time), Str(*future_time), Str(*cache_size),
                Str(*insert_size), Str(*empty_file_sets)}))) {
    return kFailure;
  }
  auto& repositories = D().built.repositories;
  if (!D().built_is_set_up || save_index < 0 ||
      static_cast<std::size_t>(save_index) >= repositories.size()) {
    return kFailure;
  }
  kha::historian::RepositoryConfig& r = repositories[static_cast<std::size_t>(save_index)];
  if (static_cast<std::size_t>(*file_set_count) != r.file_sets.size()) return kFailure;
  r.name = name;
  r.file_path = path;
  r.backup_file_path = backup;
  r.number_points = *number_points;
  r.queue_size = *queue_size;
  r.global_file_set_size = *global_file_set_size;
  r.global_threshold = *global_threshold;
  r.global_time_span = *global_time_span;
  r.past_time = *past_time;
  r.future_time = *future_time;
  r.cache_size = *cache_size;
  r.insert_size = *insert_size;
  r.empty_file_sets = *empty_file_sets;
  return 0;
}

int marn_get_arc_data(int source, int repository_index, int arc_index, int16_t* history_status,
                      char* file_path, marn_time* start_time, marn_time* end_time, int32_t* size,
                      float* threshold, int32_t* time_span) {
  if (!D().Enter("marn_get_arc_data", Join({Str(source), Str(repository_index), Str(arc_index)}))) {
    return kFailure;
  }
  const kha::historian::RepositoryConfig* r = kha::test::Repository(source, repository_index);
  if (r == nullptr || arc_index < 0 || static_cast<std::size_t>(arc_index) >= r->file_sets.size()) {
    return kFailure;
  }
  const kha::historian::FileSetConfig& arc = r->file_sets[static_cast<std::size_t>(arc_index)];
  *history_status = arc.history_status;
  kha::test::WriteBounded(file_path, MARN_PATH_SIZE, arc.file_path);
  *start_time = {arc.start_time.seconds, arc.start_time.microseconds};
  *end_time = {arc.end_time.seconds, arc.end_time.microseconds};
  *size = arc.size;
  *threshold = arc.threshold;
  *time_span = arc.time_span;
  return 0;
}

int marn_put_arc_data(int save_index, int arc_index, const int16_t* history_status,
                      const char* file_path, const marn_time* start_time, const marn_time* end_time,
                      const int32_t* size, const float* threshold, const int32_t* time_span) {
  const std::string path = ReadBounded(file_path, MARN_PATH_SIZE);
  if (!D().Enter("marn_put_arc_data",
                 Join({Str(save_index), Str(arc_index), Str(*history_status), path,
                       kha::test::Time(*start_time), kha::test::Time(*end_time), Str(*size),
                       kha::test::Format(*threshold), Str(*time_span)}))) {
    return kFailure;
  }
  auto& repositories = D().built.repositories;
  if (!D().built_is_set_up || save_index < 0 ||
      static_cast<std::size_t>(save_index) >= repositories.size()) {
    return kFailure;
  }
  auto& arcs = repositories[static_cast<std::size_t>(save_index)].file_sets;
  if (arc_index < 0 || static_cast<std::size_t>(arc_index) >= arcs.size()) return kFailure;
  arcs[static_cast<std::size_t>(arc_index)] = {*history_status,
                                               path,
                                               {start_time->seconds, start_time->microseconds},
                                               {end_time->seconds, end_time->microseconds},
                                               *size,
                                               *threshold,
                                               *time_span};
  return 0;
}

int marn_get_tuning_data(MARN_TUNING_ARGS(int32_t, int16_t)) {
  if (!D().Enter("marn_get_tuning_data", Join({reserved1 == nullptr ? "null" : "non-null",
                                               reserved2 == nullptr ? "null" : "non-null"}))) {
    return kFailure;
  }
  const auto& v = (D().tuning_from_files ? D().read : D().running).tuning.values;
  int32_t* out32[] = {t1,  t2,  t3,  t4,  t5,  t6,  t7,  t8,  t9,  t10, t11, nullptr, nullptr, t14,
                      t15, t16, t17, t18, t19, t20, t21, t22, t23, t24, t25, t26,     t27,     t28,
                      t29, t30, t31, t32, t33, t34, t35, t36, t37, t38, t39, t40};
  for (std::size_t i = 0; i < 40; ++i) {
    if (out32[i] != nullptr) *out32[i] = v[i];
  }
  *t12 = static_cast<int16_t>(v[11]);
  *t13 = static_cast<int16_t>(v[12]);
  return 0;
}

int marn_put_tuning_data(MARN_TUNING_ARGS(const int32_t, const int16_t)) {
  const int32_t* in32[] = {t1,  t2,      t3,      t4,  t5,  t6,  t7,  t8,  t9,  t10,
                           t11, nullptr, nullptr, t14, t15, t16, t17, t18, t19, t20,
                           t21, t22,     t23,     t24, t25, t26, t27, t28, t29, t30,
                           t31, t32,     t33,     t34, t35, t36, t37, t38, t39, t40};
  std::array<int32_t, 40> values{};
  for (std::size_t i = 0; i < 40; ++i) {
    if (in32[i] != nullptr) values[i] = *in32[i];
  }
  values[11] = *t12;
  values[12] = *t13;
  std::string arguments = Join(
      {reserved1 == nullptr ? "null" : "non-null", reserved2 == nullptr ? "null" : "non-null"});
  for (int32_t value : values) arguments += " " + Str(value);
  if (!D().Enter("marn_put_tuning_data", arguments)) return kFailure;
  D().built.tuning.values = values;
  return 0;
}

int getConfigPathAndTimestamp(char* path, void* timestamp) {
  if (!D().Enter("getConfigPathAndTimestamp", "")) return kFailure;
  kha::test::WriteBounded(path, DRELL_PATH_SIZE, D().config_path);
  std::memcpy(timestamp, D().config_timestamp.data(), DRELL_TIMESTAMP_SIZE);
  return 0;
}

int getTuningPathAndTimestamp(char* path, void* timestamp) {
  if (!D().Enter("getTuningPathAndTimestamp", "")) return kFailure;
  kha::test::WriteBounded(path, DRELL_PATH_SIZE, D().tune_path);
  std::memcpy(timestamp, D().tune_timestamp.data(), DRELL_TIMESTAMP_SIZE);
  return 0;
}

int get_repos_name(int source, int repository_index, char* name) {
  if (!D().Enter("get_repos_name", Join({Str(source), Str(repository_index)}))) return kFailure;
  const kha::historian::RepositoryConfig* r = kha::test::Repository(source, repository_index);
  if (r == nullptr) return kFailure;
  kha::test::WriteBounded(name, DRELL_NAME_SIZE, r->name);
  return 0;
}

int fixHistoryFilePath(char* path, int length, int mode) {
  const std::string before = ReadBounded(path, DRELL_PATH_SIZE);
  if (!D().Enter("fixHistoryFilePath", Join({before, Str(length), Str(mode)}))) return kFailure;
  for (int i = 0; i < length && i < DRELL_PATH_SIZE; ++i) {
    if (path[i] == '/') path[i] = '\\';
  }
  return 0;
}

int ConvertUNC2LocalPath(const char* path, char* local_path) {
  const std::string text = ReadBounded(path, DRELL_PATH_SIZE);
  if (!D().Enter("ConvertUNC2LocalPath", text)) return kFailure;
  static const std::string kServer = "\\\\histserver\\";
  std::string lowered = text.substr(0, kServer.size());
  for (char& c : lowered) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  std::string local = text;
  if (lowered == kServer && text.size() >= kServer.size() + 2 && text[kServer.size() + 1] == '$') {
    local = std::string(1, text[kServer.size()]) + ":" + text.substr(kServer.size() + 2);
  }
  kha::test::WriteBounded(local_path, DRELL_PATH_SIZE, local);
  return 0;
}

}  // extern "C"

#if defined(_WIN32)
// The library's objects call the two libraries through import pointers
// (the headers declare them dllimport); linked statically against the
// double, they find these pointers in its place.
#if defined(__i386__)
#define KHA_IMPORT_SYMBOL(name) "__imp__" #name
#else
#define KHA_IMPORT_SYMBOL(name) "__imp_" #name
#endif
#define KHA_IMPORT_POINTER(name)                                       \
  extern "C" void* kha_import_##name __asm__(KHA_IMPORT_SYMBOL(name)); \
  void* kha_import_##name = reinterpret_cast<void*>(&name)

KHA_IMPORT_POINTER(marn_read_hist_config);
KHA_IMPORT_POINTER(marn_write_hist_config);
KHA_IMPORT_POINTER(marn_free_hist_config);
KHA_IMPORT_POINTER(marn_init_hist_config);
KHA_IMPORT_POINTER(marn_get_number_repositories);
KHA_IMPORT_POINTER(marn_get_number_arcs);
KHA_IMPORT_POINTER(marn_get_rep_data);
KHA_IMPORT_POINTER(marn_put_rep_data);
KHA_IMPORT_POINTER(marn_get_arc_data);
KHA_IMPORT_POINTER(marn_put_arc_data);
KHA_IMPORT_POINTER(marn_get_tuning_data);
KHA_IMPORT_POINTER(marn_put_tuning_data);
KHA_IMPORT_POINTER(getConfigPathAndTimestamp);
KHA_IMPORT_POINTER(getTuningPathAndTimestamp);
KHA_IMPORT_POINTER(get_repos_name);
KHA_IMPORT_POINTER(fixHistoryFilePath);
KHA_IMPORT_POINTER(ConvertUNC2LocalPath);
#endif
