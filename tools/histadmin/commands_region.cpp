// The commands about the region as a whole: status, dump, load, save, and
// error (the message of a result code).
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "commands.h"
#include "drell.h"
#include "failure.h"
#include "interrupted_transfer.h"
#include "load_report.h"
#include "output.h"
#include "region_access.h"
#include "region_config_directory.h"
#include "session.h"

namespace kha::histadmin {
namespace {

// A configuration file that the region records, and whether it is there
// (a region served before its configuration existed records where it
// will be).
std::string RecordedFileText(const std::string& path) {
  std::error_code error;
  if (!path.empty() && std::filesystem::symlink_status(path, error).type() ==
                           std::filesystem::file_type::not_found) {
    return path + " (no such file yet)";
  }
  return path;
}

void Status(bool json) {
  Attachment attachment;
  RegionLock lock;
  const KestiHistAdminRegionHeader header = ReadHeader();
  const KestiHistAdminTuningData tuning = ReadTuning();
  const int16_t to_save = GetKestiHistAdminNumberOfRepositoriesToSave();
  const uint32_t free_space = FreeSpaceOf(header);
  const std::string interrupted = InterruptedTransfer();
  if (json) {
    PrintJson({{"RegionSize", +header.RegionSize},
               {"ReposHighWater", +header.ReposHighWater},
               {"NumberRepos", +header.NumberRepos},
               {"FSHighWater", +header.FSHighWater},
               {"NumberFileSets", +header.NumberFileSets},
               {"FreeSpace", free_space},
               {"RepositoriesToSave", to_save},
               {"ConfigFilePath", FieldText(tuning.ConfigFilePath)},
               {"TuneFilePath", FieldText(tuning.TuneFilePath)},
               {"Interrupted", interrupted.empty() ? nlohmann::ordered_json(nullptr)
                                                   : nlohmann::ordered_json(interrupted)}});
    return;
  }
  std::vector<std::pair<std::string, std::string>> fields{
      {"region size", std::to_string(header.RegionSize) + " bytes"},
      {"repositories", std::to_string(header.NumberRepos) + " in use, " +
                           std::to_string(header.ReposHighWater) + " slots (high-water mark)"},
      {"file sets", std::to_string(header.NumberFileSets) + " in use, " +
                        std::to_string(header.FSHighWater) + " slots (high-water mark)"},
      {"free space", std::to_string(free_space) + " bytes (room for " +
                         std::to_string(free_space / KHA_REPOSITORY_RECORD_SIZE) +
                         " repository slots or " +
                         std::to_string(free_space / KHA_FILESET_RECORD_SIZE) + " file-set slots)"},
      {"to be saved", std::to_string(to_save) + " repositories"},
      {"config.dat", RecordedFileText(FieldText(tuning.ConfigFilePath))},
      {"tune.dat", RecordedFileText(FieldText(tuning.TuneFilePath))},
  };
  if (!interrupted.empty()) {
    fields.emplace_back("interrupted", "histadmin " + interrupted +
                                           " (or the same library call) did not finish: "
                                           "whoever ran it ended half way; what it had done "
                                           "stays, run it again to complete it");
  }
  PrintFields(fields);
}

void Dump(bool json) {
  Attachment attachment;
  if (!json) {
    std::cout.flush();  // the library prints with stdio
    PrintKestiHistAdminAllRepository();
    return;
  }
  RegionLock lock;
  const KestiHistAdminRegionHeader header = ReadHeader();
  nlohmann::ordered_json repositories = nlohmann::ordered_json::array();
  for (const KestiHistAdminRepository& repository : ReadAllRepositories()) {
    nlohmann::ordered_json entry = RepositoryJson(repository);
    nlohmann::ordered_json file_sets = nlohmann::ordered_json::array();
    for (const KestiHistAdminFileSet& file_set :
         ReadFileSets(static_cast<uint16_t>(repository.Index))) {
      file_sets.push_back(FileSetJson(file_set));
    }
    entry["FileSets"] = std::move(file_sets);
    repositories.push_back(std::move(entry));
  }
  PrintJson({{"Header",
              {{"RegionSize", +header.RegionSize},
               {"ReposHighWater", +header.ReposHighWater},
               {"NumberRepos", +header.NumberRepos},
               {"FSHighWater", +header.FSHighWater},
               {"NumberFileSets", +header.NumberFileSets}}},
             {"Repositories", std::move(repositories)}});
}

// The directory of the configuration that `load config` merges: the
// region's own, unless the environment names one.
void UseRegionConfigDirectory() {
  if (!NamedConfigDirectory().empty()) return;
  if (const std::string recorded = RecordedConfigDirectory(ReadTuning()); !recorded.empty()) {
    UseConfigDirectory(recorded);
  }
}

void Load(const std::string& source) {
  Attachment attachment;
  RegionLock lock;  // the load and the look at what it left out see one region
  if (source == "config") UseRegionConfigDirectory();
  if (source == "running") {
    Check(LoadFromMarnIntoKestiHistAdmin(), "cannot load from the running historian");
    std::cout << "histadmin: region loaded from the running historian\n";
  } else {
    Check(LoadFromConfigIntoKestiHistAdmin(), "cannot load from the configuration files");
    std::cout << "histadmin: configuration files merged into the region\n";
  }
  FailIfIncomplete(RepositoriesNotLoaded(source == "running" ? 0 : 1));
}

// Where a save writes: --to, else the directory the region was loaded
// from, else where the libraries look by themselves (empty). The
// environment naming another directory than the region's is refused: the
// files there are not the region's.
std::string SaveDirectory(const std::string& to, const std::string& loaded_from) {
  if (!to.empty()) return std::filesystem::absolute(to).string();
  if (loaded_from.empty()) return "";
  const std::string named = NamedConfigDirectory();
  if (!named.empty() && !SameDirectory(named, loaded_from)) {
    Fail("the region was loaded from " + loaded_from + ", but KESTI_HISTORY_CONFIG_DIR names " +
         named + ": `histadmin save --to " + named +
         "` saves there; without the variable the save goes to " + loaded_from);
  }
  return loaded_from;
}

// config.dat and tune.dat as the libraries name them now: the files a
// save has just written.
std::string WrittenConfigFiles() {
  char config[DRELL_PATH_SIZE] = {};
  char tuning[DRELL_PATH_SIZE] = {};
  unsigned char timestamp[DRELL_TIMESTAMP_SIZE] = {};
  if (getConfigPathAndTimestamp(config, timestamp) != 0 ||
      getTuningPathAndTimestamp(tuning, timestamp) != 0) {
    return "the configuration files (their paths cannot be told)";
  }
  config[sizeof config - 1] = '\0';
  tuning[sizeof tuning - 1] = '\0';
  return std::string(config) + " and " + tuning;
}

void Save(const std::string& to) {
  Attachment attachment;
  RegionLock lock;  // no load records another directory meanwhile
  const std::string loaded_from = RecordedConfigDirectory(ReadTuning());
  const std::string directory = SaveDirectory(to, loaded_from);
  if (!directory.empty()) UseConfigDirectory(directory);
  Check(SaveKestiHistAdminToConfig(), "cannot save to the configuration files" +
                                          (directory.empty() ? std::string() : " in " + directory));
  std::cout << "histadmin: saved to " << WrittenConfigFiles();
  if (!loaded_from.empty() && !SameDirectory(directory, loaded_from)) {
    std::cout << " (the region was loaded from " << loaded_from << ")";
  }
  std::cout << '\n';
}

void Error(int32_t code, bool json) {
  if (json) {
    PrintJson({{"code", code}, {"message", ErrorMessage(code)}});
  } else {
    std::cout << ErrorMessage(code) << '\n';
  }
}

}  // namespace

void AddRegionCommands(CLI::App& app, RunState&) {
  auto json = std::make_shared<bool>(false);

  CLI::App* status =
      app.add_subcommand("status", "Size, high-water marks, counts and free space of the region");
  AddJsonFlag(status, *json);
  status->callback([json] { Status(*json); });

  CLI::App* dump =
      app.add_subcommand("dump", "Every repository in use with its file sets, one field per line");
  AddJsonFlag(dump, *json);
  dump->callback([json] { Dump(*json); });

  auto source = std::make_shared<std::string>();
  CLI::App* load = app.add_subcommand(
      "load", "Fill the region from the running historian, or merge the configuration files in");
  load->add_option("SOURCE", *source, "running or config")
      ->required()
      ->check(CLI::IsMember({"running", "config"}));
  load->callback([source] { Load(*source); });

  auto to = std::make_shared<std::string>();
  CLI::App* save = app.add_subcommand(
      "save",
      "Write the repositories and file sets to be saved to config.dat and tune.dat of the "
      "directory the region was loaded from");
  save->add_option("--to", *to,
                   "Save into this directory instead (needed to save elsewhere than where the "
                   "region was loaded from)");
  save->callback([to] { Save(*to); });

  auto code = std::make_shared<int32_t>(0);
  CLI::App* error = app.add_subcommand("error", "The message of a result code");
  error->add_option("CODE", *code, "A result code, e.g. -2004")->required();
  AddJsonFlag(error, *json);
  error->callback([code, json] { Error(*code, *json); });
}

}  // namespace kha::histadmin
