// Reading the configuration files. The reader is strict: every key must
// be there, no other key may be, and every value must fit the field that
// receives it, so that a typing error in a hand-edited file is a failed
// read and never a silently different configuration.
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <string>
#include <string_view>

#include "config/byte_text.h"
#include "config/config_text.h"
#include "config/float_text.h"
#include "config/parse_guard.h"
#include "config/toml_library.h"

namespace kha::historian {

namespace {

class Reader {
 public:
  explicit Reader(std::string* error) : error_(error) {}

  bool Fail(const std::string& where, std::string_view what) {
    if (error_ != nullptr && error_->empty()) *error_ = where + ": " + std::string(what);
    return false;
  }

  // Every key of `table` is one of `allowed`, and each of `allowed` that
  // is not optional is present.
  bool CheckKeys(const toml::table& table, const std::string& where,
                 std::initializer_list<std::string_view> required,
                 std::initializer_list<std::string_view> optional = {}) {
    for (const auto& [key, node] : table) {
      bool known = false;
      for (const auto name : required) known = known || key.str() == name;
      for (const auto name : optional) known = known || key.str() == name;
      if (!known) return Fail(Join(where, key.str()), "unknown key");
    }
    for (const auto name : required) {
      if (!table.contains(name)) return Fail(Join(where, name), "missing");
    }
    return true;
  }

  static std::string Join(const std::string& where, std::string_view key) {
    return where.empty() ? std::string(key) : where + "." + std::string(key);
  }

  bool ReadInteger(const toml::table& table, const std::string& where, std::string_view key,
                   int64_t smallest, int64_t largest, int64_t& out) {
    const auto* value = table.get_as<int64_t>(key);
    if (value == nullptr) return Fail(Join(where, key), "not an integer");
    const int64_t number = value->get();
    if (number < smallest || number > largest) return Fail(Join(where, key), "out of range");
    out = number;
    return true;
  }

  bool ReadInt32(const toml::table& table, const std::string& where, std::string_view key,
                 int32_t& out) {
    int64_t number = 0;
    if (!ReadInteger(table, where, key, std::numeric_limits<int32_t>::min(),
                     std::numeric_limits<int32_t>::max(), number)) {
      return false;
    }
    out = static_cast<int32_t>(number);
    return true;
  }

  bool ReadInt16(const toml::table& table, const std::string& where, std::string_view key,
                 int16_t& out) {
    int64_t number = 0;
    if (!ReadInteger(table, where, key, std::numeric_limits<int16_t>::min(),
                     std::numeric_limits<int16_t>::max(), number)) {
      return false;
    }
    out = static_cast<int16_t>(number);
    return true;
  }

  // A float: a TOML float, an integer, or { bits = 0x... } with the IEEE
  // bit pattern (how every NaN but the plain one is written).
  bool ReadFloat(const toml::table& table, const std::string& where, std::string_view key,
                 float& out) {
    const toml::node* node = table.get(key);
    const std::string at = Join(where, key);
    if (const auto* number = node->as_floating_point()) {
      const auto narrowed = FloatFromDouble(number->get());
      if (!narrowed) return Fail(at, "beyond the range of a 32-bit float");
      out = *narrowed;
      return true;
    }
    if (const auto* integer = node->as_integer()) {
      out = static_cast<float>(integer->get());
      return true;
    }
    if (const auto* bits_table = node->as_table()) {
      int64_t bits = 0;
      if (!CheckKeys(*bits_table, at, {"bits"}) ||
          !ReadInteger(*bits_table, at, "bits", 0, std::numeric_limits<uint32_t>::max(), bits)) {
        return false;
      }
      out = FloatFromBits(static_cast<uint32_t>(bits));
      return true;
    }
    return Fail(at, "not a number");
  }

  // A name or path: a string, or { hex = "..." } with its bytes. Never a
  // zero byte, never longer than `longest` bytes.
  bool ReadBytes(const toml::table& table, const std::string& where, std::string_view key,
                 std::size_t longest, std::string& out) {
    const toml::node* node = table.get(key);
    const std::string at = Join(where, key);
    std::string bytes;
    if (const auto* text = node->as_string()) {
      bytes = text->get();
    } else if (const auto* hex_table = node->as_table()) {
      if (!CheckKeys(*hex_table, at, {"hex"})) return false;
      const auto* hex = hex_table->get_as<std::string>("hex");
      if (hex == nullptr) return Fail(at + ".hex", "not a string");
      auto decoded = BytesFromHex(hex->get());
      if (!decoded) return Fail(at + ".hex", "not pairs of hexadecimal digits");
      bytes = std::move(*decoded);
    } else {
      return Fail(at, "not a string");
    }
    if (bytes.find('\0') != std::string::npos) return Fail(at, "holds a zero byte");
    if (bytes.size() > longest) return Fail(at, "too long");
    out = std::move(bytes);
    return true;
  }

  bool ReadTime(const toml::table& table, const std::string& where, std::string_view key,
                TimePair& out) {
    const auto* pair = table.get_as<toml::table>(key);
    const std::string at = Join(where, key);
    if (pair == nullptr) return Fail(at, "not a table { sec, usec }");
    return CheckKeys(*pair, at, {"sec", "usec"}) && ReadInt32(*pair, at, "sec", out.seconds) &&
           ReadInt32(*pair, at, "usec", out.microseconds);
  }

  bool ReadFileSet(const toml::table& table, const std::string& at, FileSetConfig& out) {
    return CheckKeys(table, at,
                     {"history_status", "file_path", "start_time", "end_time", "size", "threshold",
                      "time_span"}) &&
           ReadInt16(table, at, "history_status", out.history_status) &&
           ReadBytes(table, at, "file_path", kMaxPathLength, out.file_path) &&
           ReadTime(table, at, "start_time", out.start_time) &&
           ReadTime(table, at, "end_time", out.end_time) &&
           ReadInt32(table, at, "size", out.size) &&
           ReadFloat(table, at, "threshold", out.threshold) &&
           ReadInt32(table, at, "time_span", out.time_span);
  }

  bool ReadRepository(const toml::table& table, const std::string& at, RepositoryConfig& out) {
    const bool header_read =
        CheckKeys(table, at,
                  {"name", "file_path", "backup_file_path", "number_points", "queue_size",
                   "global_file_set_size", "global_threshold", "global_time_span", "past_time",
                   "future_time", "cache_size", "insert_size", "empty_file_sets"},
                  {"file_set"}) &&
        ReadBytes(table, at, "name", kMaxNameLength, out.name) &&
        ReadBytes(table, at, "file_path", kMaxPathLength, out.file_path) &&
        ReadBytes(table, at, "backup_file_path", kMaxPathLength, out.backup_file_path) &&
        ReadInt32(table, at, "number_points", out.number_points) &&
        ReadInt32(table, at, "queue_size", out.queue_size) &&
        ReadInt32(table, at, "global_file_set_size", out.global_file_set_size) &&
        ReadFloat(table, at, "global_threshold", out.global_threshold) &&
        ReadInt32(table, at, "global_time_span", out.global_time_span) &&
        ReadInt32(table, at, "past_time", out.past_time) &&
        ReadInt32(table, at, "future_time", out.future_time) &&
        ReadInt32(table, at, "cache_size", out.cache_size) &&
        ReadInt32(table, at, "insert_size", out.insert_size) &&
        ReadInt32(table, at, "empty_file_sets", out.empty_file_sets);
    if (!header_read) return false;
    const toml::node* file_sets = table.get("file_set");
    if (file_sets == nullptr) return true;
    return ReadTableArray(*file_sets, Join(at, "file_set"), kMaxFileSets, out.file_sets,
                          [this](const toml::table& t, const std::string& w, FileSetConfig& f) {
                            return ReadFileSet(t, w, f);
                          });
  }

  bool ReadTuning(const toml::table& document, TuningConfig& out) {
    const auto* tuning = document.get_as<toml::table>("tuning");
    if (tuning == nullptr) return Fail("tuning", "missing or not a table");
    for (const auto& [key, node] : *tuning) {
      const int number = TuningValueNumber(key.str());
      if (number == 0) return Fail(Join("tuning", key.str()), "unknown key");
    }
    for (int number = 1; number <= kTuningValueCount; ++number) {
      const std::string key = TuningValueKey(number);
      if (!tuning->contains(key)) return Fail(Join("tuning", key), "missing");
      int64_t value = 0;
      const bool narrow = IsSixteenBitTuningValue(number);
      if (!ReadInteger(
              *tuning, "tuning", key,
              narrow ? std::numeric_limits<int16_t>::min() : std::numeric_limits<int32_t>::min(),
              narrow ? std::numeric_limits<int16_t>::max() : std::numeric_limits<int32_t>::max(),
              value)) {
        return false;
      }
      out.values[static_cast<std::size_t>(number - 1)] = static_cast<int32_t>(value);
    }
    return true;
  }

  // An array of tables ([[key]]) of at most `most` entries.
  template <typename Entry, typename ReadEntry>
  bool ReadTableArray(const toml::node& node, const std::string& at, std::size_t most,
                      std::vector<Entry>& out, ReadEntry read_entry) {
    const auto* array = node.as_array();
    if (array == nullptr) return Fail(at, "not an array of tables");
    if (array->size() > most) return Fail(at, "too many entries");
    out.clear();
    out.reserve(array->size());
    for (std::size_t i = 0; i < array->size(); ++i) {
      const std::string entry_at = at + "[" + std::to_string(i) + "]";
      const auto* table = array->get(i)->as_table();
      if (table == nullptr) return Fail(entry_at, "not a table");
      Entry entry;
      if (!read_entry(*table, entry_at, entry)) return false;
      out.push_back(std::move(entry));
    }
    return true;
  }

  bool ReadDocument(const toml::table& document, ConfigFileKind kind, HistoryConfig& out) {
    bool keys_ok = false;
    switch (kind) {
      case ConfigFileKind::kConfig:
        keys_ok = CheckKeys(document, "", {"format_version"}, {"repository"});
        break;
      case ConfigFileKind::kTuning:
        keys_ok = CheckKeys(document, "", {"format_version", "tuning"});
        break;
      case ConfigFileKind::kRunning:
        keys_ok = CheckKeys(document, "", {"format_version", "tuning"}, {"repository"});
        break;
    }
    if (!keys_ok) return false;
    int64_t version = 0;
    if (!ReadInteger(document, "", "format_version", kConfigFormatVersion, kConfigFormatVersion,
                     version)) {
      return false;
    }
    if (HoldsTuning(kind)) {
      TuningConfig tuning;
      if (!ReadTuning(document, tuning)) return false;
      out.tuning = tuning;
    }
    if (HoldsRepositories(kind)) {
      if (const toml::node* repositories = document.get("repository")) {
        return ReadTableArray(*repositories, "repository", kMaxRepositories, out.repositories,
                              [this](const toml::table& t, const std::string& w,
                                     RepositoryConfig& r) { return ReadRepository(t, w, r); });
      }
    }
    return true;
  }

  static std::string TuningValueKey(int number) {
    return std::string("value_") + (number < 10 ? "0" : "") + std::to_string(number);
  }

  // 1 to 40 for value_01 to value_40, 0 for any other key.
  static int TuningValueNumber(std::string_view key) {
    for (int number = 1; number <= kTuningValueCount; ++number) {
      if (key == TuningValueKey(number)) return number;
    }
    return 0;
  }

  // The callers count repositories and file sets in signed 16 bits.
  static constexpr std::size_t kMaxRepositories = std::numeric_limits<int16_t>::max();
  static constexpr std::size_t kMaxFileSets = std::numeric_limits<int16_t>::max();

 private:
  std::string* error_;
};

}  // namespace

std::optional<HistoryConfig> ParseConfigText(std::string_view text, ConfigFileKind kind,
                                             std::string* error) {
  if (error != nullptr) error->clear();
  if (std::string reason = ReasonToRefuseBeforeParsing(text); !reason.empty()) {
    if (error != nullptr) *error = std::move(reason);
    return std::nullopt;
  }
  toml::parse_result parsed = toml::parse(text);
  if (!parsed) {
    if (error != nullptr) {
      const auto& failure = parsed.error();
      *error = "line " + std::to_string(failure.source().begin.line) + ": " +
               std::string(failure.description());
    }
    return std::nullopt;
  }
  HistoryConfig config;
  Reader reader(error);
  if (!reader.ReadDocument(parsed.table(), kind, config)) return std::nullopt;
  return config;
}

}  // namespace kha::historian
