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
#include "confirmation.h"
#include "drell.h"
#include "failure.h"
#include "journal_record.h"
#include "load_report.h"
#include "mutex_holder.h"
#include "output.h"
#include "region_access.h"
#include "region_config_directory.h"
#include "save_preview.h"
#include "session.h"
#include "standard_streams.h"
#include "terminal_text.h"

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
  // Looked at before anything waits for the mutex: a holder that keeps it
  // would make the attach below wait, and this is who to act on.
  const std::optional<std::string> holder = MutexHolderText();
  if (holder && !holder->empty()) {
    std::cerr << "histadmin: the HistAdmin mutex is held by " << *holder << "; waiting for it\n";
  }
  Attachment attachment;
  RegionLock lock;
  const KestiHistAdminRegionHeader header = ReadHeader();
  const KestiHistAdminTuningData tuning = ReadTuning();
  const int16_t to_save = GetKestiHistAdminNumberOfRepositoriesToSave();
  const uint32_t free_space = FreeSpaceOf(header);
  const inspection::JournalRecord journal = RegionJournalRecord();
  const std::string interrupted = InterruptedTransfer(journal);
  const std::optional<bool> unsaved = HasUnsavedChanges(journal);
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
               {"MutexHeldBy", holder && !holder->empty() ? nlohmann::ordered_json(*holder)
                                                          : nlohmann::ordered_json(nullptr)},
               {"UnsavedChanges",
                unsaved ? nlohmann::ordered_json(*unsaved) : nlohmann::ordered_json(nullptr)},
               {"Interrupted", interrupted.empty() ? nlohmann::ordered_json(nullptr)
                                                   : nlohmann::ordered_json(interrupted)}});
    return;
  }
  std::vector<std::pair<std::string, std::string>> fields{
      {"region size", std::to_string(header.RegionSize) + " bytes"},
      {"repositories", std::to_string(header.NumberRepos) + " in use, " +
                           Counted(header.ReposHighWater, "slot", "slots") + " (high-water mark)"},
      {"file sets", std::to_string(header.NumberFileSets) + " in use, " +
                        Counted(header.FSHighWater, "slot", "slots") + " (high-water mark)"},
      {"free space", std::to_string(free_space) + " bytes (room for " +
                         std::to_string(free_space / KHA_REPOSITORY_RECORD_SIZE) +
                         " repository slots or " +
                         std::to_string(free_space / KHA_FILESET_RECORD_SIZE) + " file-set slots)"},
      {"to be saved", Counted(to_save, "repository", "repositories")},
      {"config.dat", RecordedFileText(FieldText(tuning.ConfigFilePath))},
      {"tune.dat", RecordedFileText(FieldText(tuning.TuneFilePath))},
  };
  if (unsaved) {
    fields.emplace_back("unsaved", *unsaved ? "changes since the last load of config.dat or save "
                                              "(`histadmin save` writes them)"
                                            : "nothing since the last load of config.dat or save");
  }
  if (holder) {
    fields.emplace_back("mutex", holder->empty() ? "free when status began" : "held by " + *holder);
  }
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
    RegionLock lock;  // the note on an empty region is about the region dumped
    if (ReadHeader().NumberRepos == 0) std::cerr << "histadmin: no repositories\n";
    if (!OutputIsTerminal()) {
      // The library's dump, byte for byte, for whatever reads it.
      std::cout.flush();  // the library prints with stdio
      PrintKestiHistAdminAllRepository();
      return;
    }
    // On a terminal no byte from the region may act as a command.
    const std::string dump = CaptureStandardOutput([] { PrintKestiHistAdminAllRepository(); });
    std::string shown;
    std::size_t start = 0;
    for (std::size_t end; (end = dump.find('\n', start)) != std::string::npos; start = end + 1) {
      shown += ShownText(dump.substr(start, end - start)) + '\n';
    }
    shown += ShownText(dump.substr(start));
    std::cout << shown << std::flush;
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

struct LoadOptions {
  std::string source;
  bool yes = false;
  bool json = false;
};

void Load(const LoadOptions& options) {
  Attachment attachment;
  const bool running = options.source == "running";
  if (running) {
    ConfirmOrStop("empty the region and fill it from the running historian", options.yes);
  }
  RegionLock lock;  // the load and the look at what it left out see one region
  if (!running) UseRegionConfigDirectory();
  std::string done;
  if (running) {
    Check(LoadFromMarnIntoKestiHistAdmin(), "cannot load from the running historian");
    done = "region loaded from the running historian";
  } else {
    Check(LoadFromConfigIntoKestiHistAdmin(), "cannot load from the configuration files");
    done = "configuration files merged into the region";
  }
  const KestiHistAdminRegionHeader header = ReadHeader();
  PrintResult(options.json, done,
              {{"Source", options.source},
               {"NumberRepos", header.NumberRepos},
               {"NumberFileSets", header.NumberFileSets}});
  FailIfIncomplete(RepositoriesNotLoaded(running ? 0 : 1));
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
// save has just written (empty when they cannot tell).
std::pair<std::string, std::string> WrittenConfigFiles() {
  char config[DRELL_PATH_SIZE] = {};
  char tuning[DRELL_PATH_SIZE] = {};
  unsigned char timestamp[DRELL_TIMESTAMP_SIZE] = {};
  if (getConfigPathAndTimestamp(config, timestamp) != 0 ||
      getTuningPathAndTimestamp(tuning, timestamp) != 0) {
    return {};
  }
  config[sizeof config - 1] = '\0';
  tuning[sizeof tuning - 1] = '\0';
  return {config, tuning};
}

struct SaveOptions {
  std::string to;
  bool dry_run = false;
  bool json = false;
};

void Save(const SaveOptions& options) {
  Attachment attachment;
  if (options.dry_run) {
    PrintSavePreview(options.json);
    return;
  }
  RegionLock lock;  // no load records another directory meanwhile
  const std::string loaded_from = RecordedConfigDirectory(ReadTuning());
  const std::string directory = SaveDirectory(options.to, loaded_from);
  if (!directory.empty()) UseConfigDirectory(directory);
  Check(SaveKestiHistAdminToConfig(), "cannot save to the configuration files" +
                                          (directory.empty() ? std::string() : " in " + directory));
  const auto [config, tune] = WrittenConfigFiles();
  std::string done = config.empty() ? "saved the configuration files (their paths cannot be told)"
                                    : "saved to " + config + " and " + tune;
  if (!loaded_from.empty() && !SameDirectory(directory, loaded_from)) {
    done += " (the region was loaded from " + loaded_from + ")";
  }
  PrintResult(options.json, done,
              {{"ConfigFilePath", config},
               {"TuneFilePath", tune},
               {"RepositoriesSaved", GetKestiHistAdminNumberOfRepositoriesToSave()}});
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

  auto load_options = std::make_shared<LoadOptions>();
  CLI::App* load = app.add_subcommand(
      "load", "Fill the region from the running historian, or merge the configuration files in");
  load->add_option("SOURCE", load_options->source,
                   "running (empties the region first) or config (merges)")
      ->required()
      ->check(CLI::IsMember({"running", "config"}));
  AddYesFlag(load, load_options->yes);
  AddJsonFlag(load, load_options->json);
  load->callback([load_options] { Load(*load_options); });

  auto save_options = std::make_shared<SaveOptions>();
  CLI::App* save = app.add_subcommand(
      "save",
      "Write the repositories and file sets to be saved to config.dat and tune.dat of the "
      "directory the region was loaded from");
  CLI::Option* to = save->add_option(
      "--to", save_options->to,
      "Save into this directory instead (needed to save elsewhere than where the region was "
      "loaded from)");
  save->add_flag("--dry-run,-n", save_options->dry_run,
                 "Write nothing; show what the save would change in the files the region was "
                 "loaded from, as a unified diff")
      ->excludes(to);
  AddJsonFlag(save, save_options->json);
  save->callback([save_options] { Save(*save_options); });

  for (CLI::App* command : {status, dump, load, save}) command->group("The region");
}

void AddHelpCommands(CLI::App& app, RunState&) {
  auto json = std::make_shared<bool>(false);
  auto code = std::make_shared<int32_t>(0);
  CLI::App* error = app.add_subcommand("error", "The message of a result code");
  error->add_option("CODE", *code, "A result code, e.g. -2004")->required();
  AddJsonFlag(error, *json);
  error->callback([code, json] { Error(*code, *json); });

  error->group("Help");
}

}  // namespace kha::histadmin
