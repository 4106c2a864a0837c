// The repository commands: list, show, add-repo, set-repo, delete-repo.
#include <iostream>
#include <memory>
#include <string>

#include "commands.h"
#include "failure.h"
#include "output.h"
#include "region_access.h"
#include "session.h"
#include "settings.h"

namespace kha::histadmin {
namespace {

// "SECS[:USECS]", then the UTC date in parentheses when a time is set.
std::string TimeAndDateText(const KestiHistAdminTimePair& time) {
  const std::string date = DateText(time);
  return date.empty() ? TimeText(time) : TimeText(time) + " (" + date + ")";
}

// The date of a time for --json: a string, or null when no time is set.
nlohmann::ordered_json DateJson(const KestiHistAdminTimePair& time) {
  const std::string date = DateText(time);
  return date.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(date);
}

// "VALUE", or "VALUE (PENDING)" when the pending twin differs; "-" stands
// for an empty value in effect.
std::string PairText(const std::string& in_effect, const std::string& pending) {
  if (in_effect == pending) return in_effect;
  return (in_effect.empty() ? std::string("-") : in_effect) + " (" + pending + ")";
}

void List(bool json) {
  Attachment attachment;
  const auto repositories = [] {
    RegionLock lock;
    return ReadAllRepositories();
  }();
  if (json) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const auto& repository : repositories) list.push_back(RepositoryJson(repository));
    PrintJson(list);
    return;
  }
  if (repositories.empty()) {
    std::cout << "no repositories\n";
    return;
  }
  TextTable table({"SLOT", "NUMBER", "NAME", "STATUS", "FILE SETS", "PATH"});
  bool pending_differs = false;
  for (const auto& r : repositories) {
    pending_differs |= FieldText(r.FilePath) != FieldText(r.PendingFilePath);
    table.AddRow({std::to_string(r.Index), std::to_string(r.ReposNumber),
                  FieldText(r.RepositoryName), StatusText(r.Status), std::to_string(r.NumberFS),
                  PairText(FieldText(r.FilePath), FieldText(r.PendingFilePath))});
  }
  table.Print();
  if (pending_differs) std::cout << "(a path in parentheses is the pending path)\n";
}

void PrintRepositoryText(const KestiHistAdminRepository& r,
                         const std::vector<KestiHistAdminFileSet>& file_sets, int16_t current,
                         bool active) {
  PrintFields({
      {"repository", FieldText(r.RepositoryName)},
      {"slot", std::to_string(r.Index)},
      {"number", std::to_string(r.ReposNumber)},
      {"status", StatusText(r.Status)},
      {"file sets", std::to_string(r.NumberFS) + " (current: " +
                        (current > 0 ? std::to_string(current) : std::string("none")) +
                        ", active: " + (active ? "yes" : "no") + ")"},
  });
  std::cout << '\n';
  TextTable settings({"SETTING", "IN EFFECT", "PENDING"});
  const auto i = [](int32_t value) { return std::to_string(value); };
  settings.AddRow({"path", FieldText(r.FilePath), FieldText(r.PendingFilePath)});
  settings.AddRow({"backup path", FieldText(r.BackupFilePath), FieldText(r.PendingBackupFilePath)});
  settings.AddRow({"points", i(r.NumberPoints), i(r.PendingNumberPoints)});
  settings.AddRow({"queue size", i(r.QueueSize), i(r.PendingQueueSize)});
  settings.AddRow({"file-set size", i(r.GlobalFileSetSize), "-"});
  settings.AddRow({"threshold", FloatText(r.GlobalThreshold), FloatText(r.PendingGlobalThreshold)});
  settings.AddRow({"time span", i(r.GlobalTimeSpan), i(r.PendingGlobalTimeSpan)});
  settings.AddRow({"future time", i(r.FutureTime), "-"});
  settings.AddRow({"past time", i(r.PastTime), "-"});
  settings.AddRow({"cache size", i(r.CacheSize), i(r.PendingCacheSize)});
  settings.AddRow({"insert size", i(r.InsertSize), i(r.PendingInsertSize)});
  settings.AddRow({"empty filesets", i(r.EmptyFilesets), i(r.PendingEmptyFilesets)});
  settings.Print();
  if (file_sets.empty()) return;

  std::cout << '\n';
  TextTable table({"NO", "SLOT", "STATUS", "PATH", "START", "END", "SOURCE", "SIZE", "THRESHOLD",
                   "TIMESPAN", "HISTORY"});
  int position = 0;
  for (const auto& f : file_sets) {
    table.AddRow({std::to_string(++position), std::to_string(f.Index), StatusText(f.RecordStatus),
                  PairText(FieldText(f.FilePath), FieldText(f.PendingFilePath)),
                  TimeAndDateText(f.StartTime), TimeAndDateText(f.EndTime),
                  f.ParamSource == 1 ? "own" : std::to_string(f.ParamSource) + " (repository)",
                  PairText(i(f.Size), i(f.PendingSize)),
                  PairText(FloatText(f.Threshold), FloatText(f.PendingThreshold)),
                  PairText(i(f.Timespan), i(f.PendingTimespan)), i(f.HistoryStatus)});
  }
  table.Print();
  std::cout << "(a value in parentheses is the pending value, where it differs)\n";
}

void Show(const std::string& name, bool json) {
  Attachment attachment;
  RegionLock lock;
  const FoundRepository found = FindRepository(name);
  const KestiHistAdminRepository repository = ReadRepository(found.slot);
  const std::vector<KestiHistAdminFileSet> file_sets = ReadFileSets(found.slot);
  const int16_t current = GetKestiHistAdminCurrentFileSetForOneRepository(found.slot);
  const bool active = RepositoryHasOneActiveFileSet(found.slot) == 1;
  if (!json) {
    PrintRepositoryText(repository, file_sets, current, active);
    return;
  }
  nlohmann::ordered_json entry = RepositoryJson(repository);
  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  int position = 0;
  for (const auto& file_set : file_sets) {
    nlohmann::ordered_json item = {{"Number", ++position}};
    item.update(FileSetJson(file_set));
    item["StartDate"] = DateJson(file_set.StartTime);
    item["EndDate"] = DateJson(file_set.EndTime);
    list.push_back(std::move(item));
  }
  entry["CurrentFileSet"] = current;
  entry["HasActiveFileSet"] = active;
  entry["FileSets"] = std::move(list);
  PrintJson(entry);
}

struct AddRepoOptions {
  std::string name;
  int32_t status = KHA_STATUS_ACTIVE;
  RepositorySettings settings;
};

void AddRepo(const AddRepoOptions& options) {
  Attachment attachment;
  RegionLock lock;  // the search and the add are one step for everyone else
  uint16_t slot = 0, number = 0;
  Check(SearchKestiHistAdminRepositoryByName(options.name.c_str(), &slot, &number),
        "cannot add repository '" + options.name + "'");
  if (slot != 0) {
    Fail("a repository named '" + options.name + "' already exists (slot " + std::to_string(slot) +
         ", number " + std::to_string(number) + ")");
  }
  Check(AddKestiHistAdminOneRepository(options.name.c_str(), options.status, &slot, &number),
        "cannot add repository '" + options.name + "'");
  // A reused slot still holds the settings of the repository deleted from
  // it: a new repository starts from a clean header instead.
  KestiHistAdminRepository record{};
  record.Status = options.status;
  options.settings.ApplyTo(record);
  Check(UpdateKestiHistAdminOneRepositoryHeader(0, slot, &record),
        "cannot write the settings of repository '" + options.name + "'");
  std::cout << "histadmin: added repository '" << options.name << "' in slot " << slot
            << ", number " << number << '\n';
}

struct SetRepoOptions {
  std::string name;
  RepositorySettings settings;
};

void SetRepo(const SetRepoOptions& options) {
  if (!options.settings.Given()) FailUsage("set-repo: no setting to change (see --help)");
  Attachment attachment;
  RegionLock lock;
  const FoundRepository found = FindRepository(options.name);
  KestiHistAdminRepository record = ReadRepository(found.slot);
  options.settings.ApplyTo(record);
  Check(UpdateKestiHistAdminOneRepositoryHeader(0, found.slot, &record),
        "cannot update repository '" + options.name + "'");
  std::cout << "histadmin: repository '" << options.name << "' updated\n";
}

void DeleteRepo(const std::string& name) {
  Attachment attachment;
  RegionLock lock;
  const FoundRepository found = FindRepository(name);
  const int16_t file_sets = ReadRepository(found.slot).NumberFS;
  Check(DeleteKestiHistAdminOneRepository(found.slot), "cannot delete repository '" + name + "'");
  std::cout << "histadmin: repository '" << name << "' deleted with its " << file_sets
            << " file sets\n";
}

}  // namespace

void AddRepositoryCommands(CLI::App& app, RunState&) {
  auto json = std::make_shared<bool>(false);

  CLI::App* list = app.add_subcommand("list", "The repositories in use, lowest slot first");
  AddJsonFlag(list, *json);
  list->callback([json] { List(*json); });

  auto name = std::make_shared<std::string>();
  CLI::App* show = app.add_subcommand("show", "One repository with its file sets");
  show->add_option("NAME", *name, "Repository name (ASCII case ignored)")->required();
  AddJsonFlag(show, *json);
  show->callback([name, json] { Show(*name, *json); });

  auto add = std::make_shared<AddRepoOptions>();
  CLI::App* add_repo = app.add_subcommand("add-repo", "Add a repository");
  add_repo->add_option("NAME", add->name, "Repository name, 1 to 30 characters")->required();
  add_repo->add_option("--status", add->status, "Status (default 1: to be saved)");
  add->settings.AddOptions(add_repo, false);
  add_repo->callback([add] { AddRepo(*add); });

  auto set = std::make_shared<SetRepoOptions>();
  CLI::App* set_repo = app.add_subcommand("set-repo", "Change the settings of a repository");
  set_repo->add_option("NAME", set->name, "Repository name")->required();
  set->settings.AddOptions(set_repo, true);
  set_repo->callback([set] { SetRepo(*set); });

  auto delete_name = std::make_shared<std::string>();
  CLI::App* delete_repo =
      app.add_subcommand("delete-repo", "Delete a repository together with its file sets");
  delete_repo->add_option("NAME", *delete_name, "Repository name")->required();
  delete_repo->callback([delete_name] { DeleteRepo(*delete_name); });
}

}  // namespace kha::histadmin
