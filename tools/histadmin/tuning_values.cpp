#include "tuning_values.h"

#include <cstddef>
#include <cstring>

#include "failure.h"
#include "output.h"
#include "settings.h"

namespace kha::histadmin {
namespace {

struct Place {
  std::size_t offset;
  std::size_t size;
};

Place PlaceOf(int n) {
  using T = KestiHistAdminTuningData;
  if (n == 1) return {offsetof(T, TuningValue1), 2};
  if (n == 2) return {offsetof(T, TuningValue2), 2};
  if (n <= 11) return {offsetof(T, TuningValues3To11) + 4 * static_cast<std::size_t>(n - 3), 4};
  if (n == 12) return {offsetof(T, TuningValue12), 2};
  if (n == 13) return {offsetof(T, TuningValue13), 2};
  return {offsetof(T, TuningValues14To40) + 4 * static_cast<std::size_t>(n - 14), 4};
}

nlohmann::ordered_json TimestampJson(const uint8_t (&stamp)[8]) {
  nlohmann::ordered_json bytes = nlohmann::ordered_json::array();
  for (const uint8_t byte : stamp) bytes.push_back(byte);
  return bytes;
}

void TimestampFromJson(const nlohmann::ordered_json& json, const char* name, uint8_t (&stamp)[8]) {
  const auto& bytes = json.at(name);
  if (!bytes.is_array() || bytes.size() != 8) {
    Fail(std::string("tuning: ") + name + " is not 8 bytes");
  }
  for (std::size_t i = 0; i < 8; ++i) {
    const int64_t byte = bytes[i].get<int64_t>();
    if (byte < 0 || byte > 255) Fail(std::string("tuning: ") + name + " holds no byte");
    stamp[i] = static_cast<uint8_t>(byte);
  }
}

void PathFromJson(const nlohmann::ordered_json& json, const char* name, char (&field)[256]) {
  std::string path = json.at(name).get<std::string>();
  if (const std::string error = PathFits()(path); !error.empty()) {
    Fail(std::string("tuning: ") + name + ": " + error);
  }
  SetField(field, path);
}

}  // namespace

std::string TuningValueName(int n) { return "TuningValue" + std::to_string(n); }

std::optional<int> TuningValueNumber(const std::string& name) {
  for (int n = 1; n <= kTuningValueCount; ++n) {
    const std::string wanted = TuningValueName(n);
    if (wanted.size() != name.size()) continue;
    bool same = true;
    for (std::size_t i = 0; i < name.size() && same; ++i) {
      const auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
      same = fold(wanted[i]) == fold(name[i]);
    }
    if (same) return n;
  }
  return std::nullopt;
}

int64_t TuningValueMaximum(int n) { return PlaceOf(n).size == 2 ? INT16_MAX : INT32_MAX; }

int64_t GetTuningValue(const KestiHistAdminTuningData& tuning, int n) {
  const Place place = PlaceOf(n);
  const auto* bytes = reinterpret_cast<const unsigned char*>(&tuning) + place.offset;
  if (place.size == 2) {
    int16_t value = 0;
    std::memcpy(&value, bytes, 2);
    return value;
  }
  int32_t value = 0;
  std::memcpy(&value, bytes, 4);
  return value;
}

void SetTuningValue(KestiHistAdminTuningData& tuning, int n, int64_t value) {
  const Place place = PlaceOf(n);
  auto* bytes = reinterpret_cast<unsigned char*>(&tuning) + place.offset;
  if (place.size == 2) {
    const auto narrow = static_cast<int16_t>(value);
    std::memcpy(bytes, &narrow, 2);
  } else {
    const auto narrow = static_cast<int32_t>(value);
    std::memcpy(bytes, &narrow, 4);
  }
}

nlohmann::ordered_json TuningJson(const KestiHistAdminTuningData& tuning) {
  nlohmann::ordered_json json = {{"ConfigFilePath", FieldText(tuning.ConfigFilePath)},
                                 {"ConfigFileTimestamp", TimestampJson(tuning.ConfigFileTimestamp)},
                                 {"TuneFilePath", FieldText(tuning.TuneFilePath)},
                                 {"TuneFileTimestamp", TimestampJson(tuning.TuneFileTimestamp)}};
  for (int n = 1; n <= kTuningValueCount; ++n) json[TuningValueName(n)] = GetTuningValue(tuning, n);
  return json;
}

KestiHistAdminTuningData TuningFromJson(const nlohmann::ordered_json& json) {
  KestiHistAdminTuningData tuning{};
  PathFromJson(json, "ConfigFilePath", tuning.ConfigFilePath);
  TimestampFromJson(json, "ConfigFileTimestamp", tuning.ConfigFileTimestamp);
  PathFromJson(json, "TuneFilePath", tuning.TuneFilePath);
  TimestampFromJson(json, "TuneFileTimestamp", tuning.TuneFileTimestamp);
  for (int n = 1; n <= kTuningValueCount; ++n) {
    const int64_t value = json.at(TuningValueName(n)).get<int64_t>();
    // What a region holds, as it is: the range of the field.
    const int64_t maximum = TuningValueMaximum(n);
    if (value < -maximum - 1 || value > maximum) {
      Fail("tuning: " + TuningValueName(n) + " " + std::to_string(value) +
           " does not fit its field");
    }
    SetTuningValue(tuning, n, value);
  }
  return tuning;
}

}  // namespace kha::histadmin
