#include "config/float_text.h"
#include "config/history_config.h"

namespace kha::historian {

namespace {

bool SameFloat(float a, float b) { return FloatBits(a) == FloatBits(b); }
bool SameTime(TimePair a, TimePair b) {
  return a.seconds == b.seconds && a.microseconds == b.microseconds;
}

bool SameFileSet(const FileSetConfig& a, const FileSetConfig& b) {
  return a.history_status == b.history_status && a.file_path == b.file_path &&
         SameTime(a.start_time, b.start_time) && SameTime(a.end_time, b.end_time) &&
         a.size == b.size && SameFloat(a.threshold, b.threshold) && a.time_span == b.time_span;
}

bool SameRepository(const RepositoryConfig& a, const RepositoryConfig& b) {
  if (a.file_sets.size() != b.file_sets.size()) return false;
  for (std::size_t i = 0; i < a.file_sets.size(); ++i) {
    if (!SameFileSet(a.file_sets[i], b.file_sets[i])) return false;
  }
  return a.name == b.name && a.file_path == b.file_path &&
         a.backup_file_path == b.backup_file_path && a.number_points == b.number_points &&
         a.queue_size == b.queue_size && a.global_file_set_size == b.global_file_set_size &&
         SameFloat(a.global_threshold, b.global_threshold) &&
         a.global_time_span == b.global_time_span && a.past_time == b.past_time &&
         a.future_time == b.future_time && a.cache_size == b.cache_size &&
         a.insert_size == b.insert_size && a.empty_file_sets == b.empty_file_sets;
}

}  // namespace

bool IdenticalConfig(const HistoryConfig& a, const HistoryConfig& b) {
  if (a.tuning.has_value() != b.tuning.has_value()) return false;
  if (a.tuning && a.tuning->values != b.tuning->values) return false;
  if (a.repositories.size() != b.repositories.size()) return false;
  for (std::size_t i = 0; i < a.repositories.size(); ++i) {
    if (!SameRepository(a.repositories[i], b.repositories[i])) return false;
  }
  return true;
}

}  // namespace kha::historian
