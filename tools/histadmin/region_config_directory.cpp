#include "region_config_directory.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "failure.h"
#include "output.h"
#include "region_access.h"
#include "settings.h"

namespace kha::histadmin {
namespace {

constexpr char kVariable[] = "KESTI_HISTORY_CONFIG_DIR";

}  // namespace

std::string NamedConfigDirectory() {
  const char* named = std::getenv(kVariable);
  return named != nullptr ? named : "";
}

std::string RecordedConfigDirectory(const KestiHistAdminTuningData& tuning) {
  const std::string file = FieldText(tuning.ConfigFilePath);
  if (file.empty()) return "";
  return std::filesystem::path(file).parent_path().string();
}

bool SameDirectory(const std::string& first, const std::string& second) {
  std::error_code error;
  const bool same = std::filesystem::equivalent(first, second, error);
  if (!error) return same;
  return std::filesystem::path(first).lexically_normal() ==
         std::filesystem::path(second).lexically_normal();
}

void UseConfigDirectory(const std::string& directory) {
#if defined(_WIN32)
  const bool set = _putenv_s(kVariable, directory.c_str()) == 0;
#else
  const bool set = ::setenv(kVariable, directory.c_str(), 1) == 0;
#endif
  if (!set) Fail("cannot set " + std::string(kVariable) + " for the historian's libraries");
}

void RecordConfigDirectory(const std::string& directory) {
  KestiHistAdminTuningData tuning = ReadTuning();
  const std::filesystem::path base(directory);
  // A name the field cannot hold is not recorded: a save then goes where
  // the libraries look by themselves.
  if ((base / "config.dat").string().size() >= sizeof tuning.ConfigFilePath) return;
  SetField(tuning.ConfigFilePath, (base / "config.dat").string());
  SetField(tuning.TuneFilePath, (base / "tune.dat").string());
  Check(PutKestiHistAdminTuningData(&tuning), "cannot record the configuration directory");
}

}  // namespace kha::histadmin
