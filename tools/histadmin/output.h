// What the commands print: text fields of records, aligned tables, and
// the JSON form of records for --json.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "kestihistadmin.h"

namespace kha::histadmin {

// A string field of a record: up to its terminating zero or the end of
// the field, whichever comes first.
template <std::size_t N>
std::string FieldText(const char (&field)[N]) {
  const void* end = std::memchr(field, '\0', N);
  return std::string(field, end != nullptr ? static_cast<const char*>(end) : field + N);
}

// A float in its shortest exact decimal form: 0.5, 12, 1e+10.
std::string FloatText(float value);

// "SECS" or "SECS:USECS" when the microseconds are not 0.
std::string TimeText(const KestiHistAdminTimePair& time);

// The time as a UTC date in ISO 8601: "2024-12-22T00:00:00Z", with
// ".UUUUUUZ" when the microseconds are 1 to 999999. Empty for 0 seconds
// (no time set; an end of 0 is an open file set).
std::string DateText(const KestiHistAdminTimePair& time);

// The status values of repositories and file sets, in words.
std::string StatusText(int32_t status);

// Columns of text, left-aligned, two spaces apart.
class TextTable {
 public:
  explicit TextTable(std::vector<std::string> headings);
  void AddRow(std::vector<std::string> cells);
  void Print() const;

 private:
  std::vector<std::vector<std::string>> rows_;
};

// "label   value" lines with the values in one column.
void PrintFields(const std::vector<std::pair<std::string, std::string>>& fields);

nlohmann::ordered_json RepositoryJson(const KestiHistAdminRepository& record);
nlohmann::ordered_json FileSetJson(const KestiHistAdminFileSet& record);

// "1 repository", "2 repositories".
std::string Counted(long long count, const std::string& one, const std::string& many);

// `text` as a cell or value of the tool's own output: every control byte
// escaped as \xHH, tab and newline included, so that a name or path from
// the region can never start a line or a column of its own.
std::string ShownText(const std::string& text);

// What a command that changed the region says it did: "histadmin: TEXT"
// on standard output, or with --json the object `result`.
void PrintResult(bool json, const std::string& text, const nlohmann::ordered_json& result);

// Prints `value` on standard output, indented; bytes that are not UTF-8
// are replaced rather than refused.
void PrintJson(const nlohmann::ordered_json& value);

}  // namespace kha::histadmin
