#include "settings.h"

#include <charconv>
#include <cmath>

namespace kha::histadmin {
namespace {

// Counts, sizes and times are never negative; a float must also be a
// finite number that a float can hold (1e40 would become inf).
template <typename T>
const CLI::Validator& ValueCheck() {
  if constexpr (std::is_same_v<T, std::string>) {
    return PathFits();
  } else if constexpr (std::is_same_v<T, float>) {
    return FiniteNotNegative();
  } else {
    return NotNegative();
  }
}

template <typename T>
void AddPaired(CLI::App* command, const std::string& name, PairedSetting<T>& setting,
               const std::string& what) {
  command->add_option("--" + name, setting.both, what + " (in effect and pending)")
      ->check(ValueCheck<T>());
  command->add_option("--pending-" + name, setting.pending, what + " to be saved only")
      ->check(ValueCheck<T>());
}

// Writes a paired setting into a record's two fields (named by member
// pointers: the records are packed, so no references to their fields);
// `pending` wins for the pending field.
template <typename T, typename Record, typename Field>
void ApplyPaired(const PairedSetting<T>& setting, Record& record, Field Record::*in_effect,
                 Field Record::*pending) {
  if (setting.both) {
    record.*in_effect = *setting.both;
    record.*pending = *setting.both;
  }
  if (setting.pending) record.*pending = *setting.pending;
}

template <std::size_t N>
void ApplyPairedText(const PairedSetting<std::string>& setting, char (&in_effect)[N],
                     char (&pending)[N]) {
  if (setting.both) {
    SetField(in_effect, *setting.both);
    SetField(pending, *setting.both);
  }
  if (setting.pending) SetField(pending, *setting.pending);
}

// "SECS" or "SECS:USECS".
std::string ParseTime(std::string& text, KestiHistAdminTimePair& time) {
  const auto colon = text.find(':');
  const std::string seconds = text.substr(0, colon);
  const std::string micros = colon == std::string::npos ? "0" : text.substr(colon + 1);
  int32_t s = 0, u = 0;
  const auto rs = std::from_chars(seconds.data(), seconds.data() + seconds.size(), s);
  const auto ru = std::from_chars(micros.data(), micros.data() + micros.size(), u);
  if (seconds.empty() || rs.ec != std::errc() || rs.ptr != seconds.data() + seconds.size() ||
      ru.ec != std::errc() || ru.ptr != micros.data() + micros.size()) {
    return "expected SECONDS or SECONDS:MICROSECONDS, got '" + text + "'";
  }
  if (s < 0) return "a time is never negative, got '" + text + "'";
  if (u < 0 || u > 999999) {
    return "the microseconds are 0 to 999999, got '" + text + "'";
  }
  time.Seconds = s;
  time.Microseconds = u;
  return {};
}

void AddTimeOption(CLI::App* command, const std::string& name,
                   std::optional<KestiHistAdminTimePair>& target, const std::string& what) {
  command
      ->add_option_function<std::string>(
          name,
          [&target](const std::string& text) {
            KestiHistAdminTimePair time{};
            std::string copy = text;
            if (const std::string error = ParseTime(copy, time); !error.empty()) {
              throw CLI::ValidationError(error);
            }
            target = time;
          },
          what)
      ->type_name("SECS[:USECS]");
}

}  // namespace

const CLI::Validator& NotNegative() {
  static const CLI::Validator validator(
      [](std::string& text) -> std::string {
        long long value = 0;
        const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
        // What is no number at all is left to the conversion to refuse.
        if (result.ptr != text.data() && value < 0) {
          return "must not be negative, got " + text;
        }
        if (result.ec == std::errc::result_out_of_range && !text.empty() && text[0] == '-') {
          return "must not be negative, got " + text;
        }
        return {};
      },
      "NUMBER >= 0");
  return validator;
}

const CLI::Validator& FiniteNotNegative() {
  static const CLI::Validator validator(
      [](std::string& text) -> std::string {
        float value = 0;
        const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
        if (result.ec == std::errc::result_out_of_range) {
          return "out of the range of a float, got " + text;
        }
        if (result.ec != std::errc() || result.ptr != text.data() + text.size()) {
          return "expected a number, got " + text;
        }
        if (!std::isfinite(value)) return "must be a finite number, got " + text;
        if (value < 0) return "must not be negative, got " + text;
        return {};
      },
      "NUMBER >= 0");
  return validator;
}

namespace {

// The first control byte of `text` (below 0x20, or 0x7F) as "\xHH", or
// empty: such a byte in a name or path would reach every terminal that
// lists it, and a newline or tab could forge a row of a listing.
std::string ControlByteIn(const std::string& text) {
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      static const char digits[] = "0123456789abcdef";
      return std::string("\\x") + digits[byte >> 4] + digits[byte & 0xF];
    }
  }
  return {};
}

}  // namespace

const CLI::Validator& PathFits() {
  static const CLI::Validator validator(
      [](std::string& text) -> std::string {
        if (text.size() >= KHA_PATH_FIELD_SIZE) {
          return "a path has at most " + std::to_string(KHA_PATH_FIELD_SIZE - 1) + " bytes";
        }
        if (const std::string control = ControlByteIn(text); !control.empty()) {
          return "a path must not hold a control byte, got one (" + control + ")";
        }
        return {};
      },
      "PATH");
  return validator;
}

const CLI::Validator& FileSetPath() {
  static const CLI::Validator validator(
      [](std::string& text) -> std::string {
        if (text.empty()) return "a file set needs a path, got an empty one";
        return PathFits()(text);
      },
      "PATH");
  return validator;
}

const CLI::Validator& RepositoryName() {
  static const CLI::Validator validator(
      [](std::string& text) -> std::string {
        if (text.empty() || text.size() > KHA_MAX_NAME_LENGTH) {
          return "a repository name has 1 to " + std::to_string(KHA_MAX_NAME_LENGTH) +
                 " characters, got " + std::to_string(text.size());
        }
        if (const std::string control = ControlByteIn(text); !control.empty()) {
          return "a repository name must not hold a control byte, got one (" + control + ")";
        }
        return {};
      },
      "NAME");
  return validator;
}

CLI::Option* AddStatusOption(CLI::App* command, std::optional<int32_t>& target,
                             const std::string& what) {
  return command
      ->add_option_function<std::string>(
          "--status",
          [&target](const std::string& text) {
            static const std::pair<const char*, int32_t> kNames[] = {
                {"not-saved", KHA_STATUS_NOT_SAVED},
                {"saved", KHA_STATUS_ACTIVE},
                {"marked", KHA_STATUS_MARKED},
                {"new", KHA_STATUS_NEW}};
            for (const auto& [name, value] : kNames) {
              if (text == name || text == std::to_string(value)) {
                target = value;
                return;
              }
            }
            throw CLI::ValidationError("--status",
                                       "a status is not-saved (0), saved (1), "
                                       "marked (2) or new (3), got '" +
                                           text + "'");
          },
          what)
      ->type_name("STATUS");
}

std::string TimeRangeError(const KestiHistAdminFileSet& record) {
  const auto& start = record.StartTime;
  const auto& end = record.EndTime;
  if (end.Seconds == 0 && end.Microseconds == 0) return {};  // open
  if (end.Seconds > start.Seconds ||
      (end.Seconds == start.Seconds && end.Microseconds >= start.Microseconds)) {
    return {};
  }
  return "the end of a file set's time range (" + std::to_string(end.Seconds) + ":" +
         std::to_string(end.Microseconds) + ") lies before its start (" +
         std::to_string(start.Seconds) + ":" + std::to_string(start.Microseconds) +
         "); an end of 0 leaves it open";
}

void RepositorySettings::AddOptions(CLI::App* command, bool with_status) {
  if (with_status) {
    AddStatusOption(command, status_,
                    "not-saved (0), saved (1: to be saved), marked (2), new (3: to be saved)");
  }
  AddPaired(command, "path", path_, "repository path");
  AddPaired(command, "backup-path", backup_path_, "backup path");
  AddPaired(command, "points", points_, "number of points");
  AddPaired(command, "queue-size", queue_size_, "queue size");
  command->add_option("--file-set-size", file_set_size_, "default size of the file sets")
      ->check(NotNegative());
  AddPaired(command, "threshold", threshold_, "default threshold of the file sets");
  AddPaired(command, "time-span", time_span_, "default time span of the file sets");
  command->add_option("--future-time", future_time_, "future time")->check(NotNegative());
  command->add_option("--past-time", past_time_, "past time")->check(NotNegative());
  AddPaired(command, "cache-size", cache_size_, "cache size");
  AddPaired(command, "insert-size", insert_size_, "insert size");
  AddPaired(command, "empty-filesets", empty_filesets_, "empty file sets setting");
}

bool RepositorySettings::Given() const {
  return status_ || path_.Given() || backup_path_.Given() || points_.Given() ||
         queue_size_.Given() || file_set_size_ || threshold_.Given() || time_span_.Given() ||
         future_time_ || past_time_ || cache_size_.Given() || insert_size_.Given() ||
         empty_filesets_.Given();
}

void RepositorySettings::ApplyTo(KestiHistAdminRepository& r) const {
  using R = KestiHistAdminRepository;
  if (status_) r.Status = *status_;
  ApplyPairedText(path_, r.FilePath, r.PendingFilePath);
  ApplyPairedText(backup_path_, r.BackupFilePath, r.PendingBackupFilePath);
  ApplyPaired(points_, r, &R::NumberPoints, &R::PendingNumberPoints);
  ApplyPaired(queue_size_, r, &R::QueueSize, &R::PendingQueueSize);
  if (file_set_size_) r.GlobalFileSetSize = *file_set_size_;
  ApplyPaired(threshold_, r, &R::GlobalThreshold, &R::PendingGlobalThreshold);
  ApplyPaired(time_span_, r, &R::GlobalTimeSpan, &R::PendingGlobalTimeSpan);
  if (future_time_) r.FutureTime = *future_time_;
  if (past_time_) r.PastTime = *past_time_;
  ApplyPaired(cache_size_, r, &R::CacheSize, &R::PendingCacheSize);
  ApplyPaired(insert_size_, r, &R::InsertSize, &R::PendingInsertSize);
  ApplyPaired(empty_filesets_, r, &R::EmptyFilesets, &R::PendingEmptyFilesets);
}

void FileSetSettings::AddOptions(CLI::App* command, bool with_path) {
  AddStatusOption(command, status_,
                  "not-saved (0), saved (1: to be saved, active), marked (2: active), "
                  "new (3: to be saved)");
  if (with_path) {
    command->add_option("--path", path_.both, "file-set path (in effect and pending)")
        ->check(FileSetPath());
  }
  command->add_option("--pending-path", path_.pending, "file-set path to be saved only")
      ->check(FileSetPath());
  AddTimeOption(command, "--start", start_, "start of the file set's time range");
  AddTimeOption(command, "--end", end_, "end of the file set's time range (0: open)");
  command
      ->add_option("--param-source", param_source_,
                   "1: own size, threshold and time span; 0: the repository's")
      ->check(CLI::Range(0, 1));
  AddPaired(command, "size", size_, "file-set size");
  AddPaired(command, "threshold", threshold_, "threshold");
  AddPaired(command, "timespan", timespan_, "time span");
  command->add_option("--percentage", percentage_, "percentage")->check(FiniteNotNegative());
  command->add_option("--history-status", history_status_, "history status")
      ->check(CLI::Range(-32768, 32767));
}

bool FileSetSettings::Given() const {
  return status_ || param_source_ || history_status_ || path_.Given() || start_ || end_ ||
         size_.Given() || timespan_.Given() || threshold_.Given() || percentage_;
}

bool FileSetSettings::GivesOwnParameters() const {
  return size_.Given() || threshold_.Given() || timespan_.Given();
}

void FileSetSettings::ApplyTo(KestiHistAdminFileSet& f) const {
  if (status_) f.RecordStatus = *status_;
  ApplyPairedText(path_, f.FilePath, f.PendingFilePath);
  if (start_) f.StartTime = *start_;
  if (end_) f.EndTime = *end_;
  if (param_source_) f.ParamSource = *param_source_;
  using F = KestiHistAdminFileSet;
  ApplyPaired(size_, f, &F::Size, &F::PendingSize);
  ApplyPaired(threshold_, f, &F::Threshold, &F::PendingThreshold);
  ApplyPaired(timespan_, f, &F::Timespan, &F::PendingTimespan);
  if (percentage_) f.Percentage = *percentage_;
  if (history_status_) f.HistoryStatus = static_cast<int16_t>(*history_status_);
}

}  // namespace kha::histadmin
