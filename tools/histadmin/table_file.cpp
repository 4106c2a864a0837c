#include "table_file.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <set>

#include "failure.h"
#include "import_placement.h"
#include "kestihistadmin.h"
#include "output.h"
#include "region_access.h"
#include "settings.h"
#include "tuning_values.h"

namespace kha::histadmin {
namespace {

using Json = nlohmann::ordered_json;

constexpr char kFormat[] = "kestihistadmin table";
constexpr int kVersion = 1;

[[noreturn]] void Refuse(const std::string& why) {
  Fail("import: the file is refused, nothing was written: " + why);
}

template <std::size_t N>
Json BytesJson(const uint8_t (&bytes)[N]) {
  Json list = Json::array();
  for (const uint8_t byte : bytes) list.push_back(byte);
  return list;
}

// Every text field must come back as it went out: JSON carries UTF-8
// only (control bytes go as \u escapes and come back).
void CheckExportable(const std::string& text, const std::string& what) {
  try {
    (void)Json(text).dump();
  } catch (const nlohmann::json::type_error&) {
    Fail("export: " + what + " is not UTF-8, which JSON cannot carry; nothing was written");
  }
}

void CheckFinite(float value, const std::string& what) {
  if (!std::isfinite(value)) Fail("export: " + what + " is not a finite number");
}

template <std::size_t N>
void BytesFromJson(const Json& json, const char* name, uint8_t (&bytes)[N]) {
  const Json& list = json.at(name);
  if (!list.is_array() || list.size() != N)
    Refuse(std::string(name) + " is not " + std::to_string(N) + " bytes");
  for (std::size_t i = 0; i < N; ++i) {
    const int64_t byte = list[i].get<int64_t>();
    if (byte < 0 || byte > 255) Refuse(std::string(name) + " holds a value that is no byte");
    bytes[i] = static_cast<uint8_t>(byte);
  }
}

template <typename T>
T Integer(const Json& json, const char* name) {
  const int64_t value = json.at(name).get<int64_t>();
  if (value < std::numeric_limits<T>::min() || value > std::numeric_limits<T>::max()) {
    Refuse(std::string(name) + " " + std::to_string(value) + " does not fit its field");
  }
  return static_cast<T>(value);
}

float Float(const Json& json, const char* name) {
  const double value = json.at(name).get<double>();
  if (!std::isfinite(value) || std::fabs(value) > std::numeric_limits<float>::max()) {
    Refuse(std::string(name) + " is not a finite float");
  }
  return static_cast<float>(value);
}

int32_t Status(const Json& json, const char* name) {
  const int32_t status = Integer<int32_t>(json, name);
  if (status < KHA_STATUS_NOT_SAVED || status > KHA_STATUS_NEW) {
    Refuse(std::string(name) + " " + std::to_string(status) + " is no status (0 to 3)");
  }
  return status;
}

template <std::size_t N>
void Path(const Json& json, const char* name, char (&field)[N], bool required) {
  std::string path = json.at(name).get<std::string>();
  const std::string error = (required ? FileSetPath() : PathFits())(path);
  if (!error.empty()) Refuse(std::string(name) + " '" + ShownText(path) + "': " + error);
  SetField(field, path);
}

KestiHistAdminTimePair Time(const Json& json, const char* name) {
  const Json& time = json.at(name);
  return {Integer<int32_t>(time, "Seconds"), Integer<int32_t>(time, "Microseconds")};
}

KestiHistAdminRepository RepositoryFromJson(const Json& json) {
  KestiHistAdminRepository r{};
  std::string name = json.at("RepositoryName").get<std::string>();
  if (const std::string error = RepositoryName()(name); !error.empty()) {
    Refuse("RepositoryName '" + ShownText(name) + "': " + error);
  }
  SetField(r.RepositoryName, name);
  r.Status = Status(json, "Status");
  Path(json, "FilePath", r.FilePath, false);
  Path(json, "PendingFilePath", r.PendingFilePath, false);
  Path(json, "BackupFilePath", r.BackupFilePath, false);
  Path(json, "PendingBackupFilePath", r.PendingBackupFilePath, false);
  r.NumberPoints = Integer<int32_t>(json, "NumberPoints");
  r.PendingNumberPoints = Integer<int32_t>(json, "PendingNumberPoints");
  r.QueueSize = Integer<int32_t>(json, "QueueSize");
  r.PendingQueueSize = Integer<int32_t>(json, "PendingQueueSize");
  r.GlobalFileSetSize = Integer<int32_t>(json, "GlobalFileSetSize");
  r.GlobalThreshold = Float(json, "GlobalThreshold");
  r.PendingGlobalThreshold = Float(json, "PendingGlobalThreshold");
  r.GlobalTimeSpan = Integer<int32_t>(json, "GlobalTimeSpan");
  r.PendingGlobalTimeSpan = Integer<int32_t>(json, "PendingGlobalTimeSpan");
  r.FutureTime = Integer<int32_t>(json, "FutureTime");
  r.PastTime = Integer<int32_t>(json, "PastTime");
  r.CacheSize = Integer<int32_t>(json, "CacheSize");
  r.PendingCacheSize = Integer<int32_t>(json, "PendingCacheSize");
  r.InsertSize = Integer<int32_t>(json, "InsertSize");
  r.PendingInsertSize = Integer<int32_t>(json, "PendingInsertSize");
  r.EmptyFilesets = Integer<int32_t>(json, "EmptyFilesets");
  r.PendingEmptyFilesets = Integer<int32_t>(json, "PendingEmptyFilesets");
  r.Index = Integer<int16_t>(json, "Index");
  r.ReposNumber = Integer<uint16_t>(json, "ReposNumber");
  if (r.Index < 1)
    Refuse("repository '" + name + "': Index " + std::to_string(r.Index) + " is no slot");
  return r;
}

KestiHistAdminFileSet FileSetFromJson(const Json& json) {
  KestiHistAdminFileSet f{};
  f.RecordStatus = Status(json, "RecordStatus");
  Path(json, "FilePath", f.FilePath, true);
  Path(json, "PendingFilePath", f.PendingFilePath, true);
  f.StartTime = Time(json, "StartTime");
  f.EndTime = Time(json, "EndTime");
  f.ParamSource = Integer<int32_t>(json, "ParamSource");
  f.Size = Integer<int32_t>(json, "Size");
  f.PendingSize = Integer<int32_t>(json, "PendingSize");
  f.Threshold = Float(json, "Threshold");
  f.PendingThreshold = Float(json, "PendingThreshold");
  f.Timespan = Integer<int32_t>(json, "Timespan");
  f.PendingTimespan = Integer<int32_t>(json, "PendingTimespan");
  f.Percentage = Float(json, "Percentage");
  BytesFromJson(json, "Spare1", f.Spare1);
  BytesFromJson(json, "Spare2", f.Spare2);
  BytesFromJson(json, "Spare3", f.Spare3);
  BytesFromJson(json, "Spare4", f.Spare4);
  f.HistoryStatus = Integer<int16_t>(json, "HistoryStatus");
  f.Index = Integer<int16_t>(json, "Index");
  if (f.Index < 1) Refuse("a file set's Index " + std::to_string(f.Index) + " is no slot");
  return f;
}

// Everything in the file, checked, before anything is written.
std::vector<RepositoryToPlace> ReadPlan(const Json& table, KestiHistAdminTuningData& tuning,
                                        int16_t& repos_high_water, int16_t& fs_high_water) {
  if (!table.is_object() || table.value("Format", std::string()) != kFormat) {
    Refuse("it is not a histadmin table file (no \"Format\": \"" + std::string(kFormat) + "\")");
  }
  if (table.value("Version", 0) != kVersion) {
    Refuse("it has version " + table.value("Version", Json()).dump() + "; this histadmin reads " +
           std::to_string(kVersion));
  }
  try {
    tuning = TuningFromJson(table.at("Tuning"));
  } catch (const CommandFailure& failure) {
    Refuse(failure.what());
  }
  const Json& header = table.at("Header");
  repos_high_water = Integer<int16_t>(header, "ReposHighWater");
  fs_high_water = Integer<int16_t>(header, "FSHighWater");
  std::vector<RepositoryToPlace> plan;
  std::set<int> repository_slots, file_set_slots;
  for (const Json& entry : table.at("Repositories")) {
    RepositoryToPlace planned{RepositoryFromJson(entry), {}};
    if (!repository_slots.insert(planned.record.Index).second) {
      Refuse("two repositories in slot " + std::to_string(planned.record.Index));
    }
    for (const Json& file_set : entry.at("FileSets")) {
      planned.file_sets.push_back(FileSetFromJson(file_set));
      if (!file_set_slots.insert(planned.file_sets.back().Index).second) {
        Refuse("two file sets in slot " + std::to_string(planned.file_sets.back().Index));
      }
    }
    plan.push_back(std::move(planned));
  }
  if (!repository_slots.empty())
    repos_high_water =
        std::max<int16_t>(repos_high_water, static_cast<int16_t>(*repository_slots.rbegin()));
  if (!file_set_slots.empty())
    fs_high_water =
        std::max<int16_t>(fs_high_water, static_cast<int16_t>(*file_set_slots.rbegin()));
  std::sort(plan.begin(), plan.end(), [](const RepositoryToPlace& a, const RepositoryToPlace& b) {
    return a.record.Index < b.record.Index;
  });
  return plan;
}

// Takes out whatever the import added, leaving the tables as empty as it
// found them.
void TakeOutImport() {
  for (const KestiHistAdminRepository& repository : ReadAllRepositories()) {
    (void)DeleteKestiHistAdminOneRepository(static_cast<uint16_t>(repository.Index));
  }
  (void)PutKestiHistAdminHeader(0xFFFFFFFFu, 0, 0, 0, 0);
}

}  // namespace

Json ExportTable() {
  const KestiHistAdminRegionHeader header = ReadHeader();
  const KestiHistAdminTuningData tuning = ReadTuning();
  CheckExportable(FieldText(tuning.ConfigFilePath), "ConfigFilePath");
  CheckExportable(FieldText(tuning.TuneFilePath), "TuneFilePath");
  Json repositories = Json::array();
  for (const KestiHistAdminRepository& r : ReadAllRepositories()) {
    const std::string name = FieldText(r.RepositoryName);
    for (const auto& [text, what] :
         {std::pair{name, "RepositoryName"}, std::pair{FieldText(r.FilePath), "FilePath"},
          std::pair{FieldText(r.PendingFilePath), "PendingFilePath"},
          std::pair{FieldText(r.BackupFilePath), "BackupFilePath"},
          std::pair{FieldText(r.PendingBackupFilePath), "PendingBackupFilePath"}}) {
      CheckExportable(text, "repository " + name + ": " + what);
    }
    CheckFinite(r.GlobalThreshold, "repository " + name + ": GlobalThreshold");
    CheckFinite(r.PendingGlobalThreshold, "repository " + name + ": PendingGlobalThreshold");
    Json entry = RepositoryJson(r);
    Json file_sets = Json::array();
    for (const KestiHistAdminFileSet& f : ReadFileSets(static_cast<uint16_t>(r.Index))) {
      CheckExportable(FieldText(f.FilePath), "a file set of " + name + ": FilePath");
      CheckExportable(FieldText(f.PendingFilePath), "a file set of " + name + ": PendingFilePath");
      CheckFinite(f.Threshold, "a file set of " + name + ": Threshold");
      CheckFinite(f.PendingThreshold, "a file set of " + name + ": PendingThreshold");
      CheckFinite(f.Percentage, "a file set of " + name + ": Percentage");
      Json item = FileSetJson(f);
      item["Spare1"] = BytesJson(f.Spare1);
      item["Spare2"] = BytesJson(f.Spare2);
      item["Spare3"] = BytesJson(f.Spare3);
      item["Spare4"] = BytesJson(f.Spare4);
      file_sets.push_back(std::move(item));
    }
    entry["FileSets"] = std::move(file_sets);
    repositories.push_back(std::move(entry));
  }
  return {{"Format", kFormat},
          {"Version", kVersion},
          {"Header",
           {{"RegionSize", +header.RegionSize},
            {"ReposHighWater", +header.ReposHighWater},
            {"NumberRepos", +header.NumberRepos},
            {"FSHighWater", +header.FSHighWater},
            {"NumberFileSets", +header.NumberFileSets}}},
          {"Tuning", TuningJson(tuning)},
          {"Repositories", std::move(repositories)}};
}

ImportOutcome ImportTable(const Json& table) {
  KestiHistAdminTuningData tuning{};
  int16_t repos_high_water = 0, fs_high_water = 0;
  std::vector<RepositoryToPlace> plan;
  try {
    plan = ReadPlan(table, tuning, repos_high_water, fs_high_water);
  } catch (const nlohmann::json::exception& error) {
    Refuse(std::string("a field is missing or of the wrong kind (") + error.what() + ")");
  }
  const KestiHistAdminRegionHeader header = ReadHeader();
  if (header.NumberRepos != 0 || header.NumberFileSets != 0) {
    Fail("import: the region holds " + Counted(header.NumberRepos, "repository", "repositories") +
         " and " + Counted(header.NumberFileSets, "file set", "file sets") +
         "; an import goes into an empty region (`histadmin serve --load none`), nothing was "
         "written");
  }

  ImportOutcome outcome;
  try {
    outcome.differences = PlaceImportedTable(plan, repos_high_water, fs_high_water);
  } catch (const CommandFailure& failure) {
    TakeOutImport();
    throw CommandFailure(failure.exit_status(), std::string(failure.what()) + "; nothing was kept");
  }
  for (const RepositoryToPlace& planned : plan) {
    ++outcome.repositories;
    outcome.file_sets += static_cast<int>(planned.file_sets.size());
  }
  if (const int32_t code = PutKestiHistAdminTuningData(&tuning); code != 0) {
    TakeOutImport();
    FailWithCode(code, "import: cannot write the tuning block; nothing was kept");
  }
  return outcome;
}

}  // namespace kha::histadmin
