#include "output.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "terminal_text.h"

namespace kha::histadmin {

std::string FloatText(float value) {
  char text[64];
  const auto result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
}

namespace {

// The float's shortest decimal form as a double, so that 0.1f shows as 0.1
// and not as 0.10000000149011612.
double JsonFloat(float value) {
  const std::string text = FloatText(value);
  return std::strtod(text.c_str(), nullptr);
}

}  // namespace

std::string TimeText(const KestiHistAdminTimePair& time) {
  std::string text = std::to_string(time.Seconds);
  if (time.Microseconds != 0) text += ":" + std::to_string(time.Microseconds);
  return text;
}

std::string DateText(const KestiHistAdminTimePair& time) {
  if (time.Seconds == 0) return {};
  using namespace std::chrono;
  const sys_seconds moment{seconds{time.Seconds}};
  const sys_days day = floor<days>(moment);
  const year_month_day date{day};
  const hh_mm_ss clock{moment - day};
  char text[48];
  const int length = std::snprintf(
      text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d", static_cast<int>(date.year()),
      static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
      static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
      static_cast<int>(clock.seconds().count()));
  std::string result(text, static_cast<std::size_t>(length));
  if (time.Microseconds > 0 && time.Microseconds <= 999999) {
    std::snprintf(text, sizeof text, ".%06d", static_cast<int>(time.Microseconds));
    result += text;
  }
  return result + "Z";
}

std::string StatusText(int32_t status) {
  switch (status) {
    case KHA_STATUS_NOT_SAVED:
      return "0 (not saved)";
    case KHA_STATUS_ACTIVE:
      return "1 (saved)";
    case KHA_STATUS_MARKED:
      return "2 (marked)";
    case KHA_STATUS_NEW:
      return "3 (new, saved)";
    default:
      return std::to_string(status) + " (unknown)";
  }
}

TextTable::TextTable(std::vector<std::string> headings) { rows_.push_back(std::move(headings)); }

void TextTable::AddRow(std::vector<std::string> cells) {
  for (std::string& cell : cells) cell = ShownText(cell);
  rows_.push_back(std::move(cells));
}

void TextTable::Print() const {
  std::vector<std::size_t> widths;
  for (const auto& row : rows_) {
    widths.resize(std::max(widths.size(), row.size()), 0);
    for (std::size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], row[i].size());
  }
  for (const auto& row : rows_) {
    std::string line;
    for (std::size_t i = 0; i < row.size(); ++i) {
      line += row[i];
      if (i + 1 < row.size()) line += std::string(widths[i] - row[i].size() + 2, ' ');
    }
    std::cout << line << '\n';
  }
}

void PrintFields(const std::vector<std::pair<std::string, std::string>>& fields) {
  std::size_t width = 0;
  for (const auto& field : fields) width = std::max(width, field.first.size());
  for (const auto& [label, value] : fields) {
    std::cout << label << std::string(width - label.size() + 2, ' ') << ShownText(value) << '\n';
  }
}

nlohmann::ordered_json RepositoryJson(const KestiHistAdminRepository& r) {
  return {
      {"RepositoryName", FieldText(r.RepositoryName)},
      {"Status", +r.Status},
      {"FilePath", FieldText(r.FilePath)},
      {"PendingFilePath", FieldText(r.PendingFilePath)},
      {"BackupFilePath", FieldText(r.BackupFilePath)},
      {"PendingBackupFilePath", FieldText(r.PendingBackupFilePath)},
      {"NumberPoints", +r.NumberPoints},
      {"PendingNumberPoints", +r.PendingNumberPoints},
      {"QueueSize", +r.QueueSize},
      {"PendingQueueSize", +r.PendingQueueSize},
      {"GlobalFileSetSize", +r.GlobalFileSetSize},
      {"GlobalThreshold", JsonFloat(r.GlobalThreshold)},
      {"PendingGlobalThreshold", JsonFloat(r.PendingGlobalThreshold)},
      {"GlobalTimeSpan", +r.GlobalTimeSpan},
      {"PendingGlobalTimeSpan", +r.PendingGlobalTimeSpan},
      {"FutureTime", +r.FutureTime},
      {"PastTime", +r.PastTime},
      {"CacheSize", +r.CacheSize},
      {"PendingCacheSize", +r.PendingCacheSize},
      {"InsertSize", +r.InsertSize},
      {"PendingInsertSize", +r.PendingInsertSize},
      {"EmptyFilesets", +r.EmptyFilesets},
      {"PendingEmptyFilesets", +r.PendingEmptyFilesets},
      {"SlotUsage", +r.SlotUsage},
      {"Index", +r.Index},
      {"NumberFS", +r.NumberFS},
      {"FirstFS", +r.FirstFS},
      {"LastFS", +r.LastFS},
      {"ReposNumber", +r.ReposNumber},
  };
}

nlohmann::ordered_json FileSetJson(const KestiHistAdminFileSet& f) {
  return {
      {"RecordStatus", +f.RecordStatus},
      {"FilePath", FieldText(f.FilePath)},
      {"PendingFilePath", FieldText(f.PendingFilePath)},
      {"StartTime",
       {{"Seconds", +f.StartTime.Seconds}, {"Microseconds", +f.StartTime.Microseconds}}},
      {"EndTime", {{"Seconds", +f.EndTime.Seconds}, {"Microseconds", +f.EndTime.Microseconds}}},
      {"ParamSource", +f.ParamSource},
      {"Size", +f.Size},
      {"PendingSize", +f.PendingSize},
      {"Threshold", JsonFloat(f.Threshold)},
      {"PendingThreshold", JsonFloat(f.PendingThreshold)},
      {"Timespan", +f.Timespan},
      {"PendingTimespan", +f.PendingTimespan},
      {"Percentage", JsonFloat(f.Percentage)},
      {"SlotUsage", +f.SlotUsage},
      {"HistoryStatus", +f.HistoryStatus},
      {"Index", +f.Index},
      {"ReposIndex", +f.ReposIndex},
      {"NextIndex", +f.NextIndex},
  };
}

std::string Counted(long long count, const std::string& one, const std::string& many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string ShownText(const std::string& text) {
  std::string shown;
  for (const char c : text) {
    if (c == '\n') {
      shown += "\\x0a";
    } else if (c == '\t') {
      shown += "\\x09";
    } else {
      shown += c;
    }
  }
  return EscapeControls(shown);
}

void PrintResult(bool json, const std::string& text, const nlohmann::ordered_json& result) {
  if (json) {
    PrintJson(result);
  } else {
    std::cout << "histadmin: " << text << '\n';
  }
}

void PrintJson(const nlohmann::ordered_json& value) {
  // ASCII only: control characters and everything beyond ASCII are \u
  // escapes, so the text stays valid JSON and harmless on a terminal.
  std::cout << value.dump(2, ' ', true, nlohmann::ordered_json::error_handler_t::replace) << '\n';
}

}  // namespace kha::histadmin
