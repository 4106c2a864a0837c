// The repository commands: list, show, add-repo, set-repo, delete-repo.
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "commands.h"
#include "confirmation.h"
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
  std::optional<int32_t> status;
  RepositorySettings settings;
  bool json = false;
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
  const int32_t status = options.status.value_or(KHA_STATUS_ACTIVE);
  Check(AddKestiHistAdminOneRepository(options.name.c_str(), status, &slot, &number),
        "cannot add repository '" + options.name + "'");
  // A reused slot still holds the settings of the repository deleted from
  // it: a new repository starts from a clean header instead.
  KestiHistAdminRepository record{};
  record.Status = status;
  options.settings.ApplyTo(record);
  if (const int32_t code =
          UpdateKestiHistAdminOneRepositoryHeader(KHA_UPDATE_EVERY_FIELD, slot, &record);
      code != 0) {
    (void)DeleteKestiHistAdminOneRepository(slot);  // not left behind half made
    CheckInPlace(code, "cannot write the settings of repository '" + options.name + "'");
  }
  PrintResult(options.json,
              "added repository '" + options.name + "' in slot " + std::to_string(slot) +
                  ", number " + std::to_string(number),
              {{"Repository", options.name}, {"Slot", slot}, {"ReposNumber", number}});
}

struct SetRepoOptions {
  std::string name;
  RepositorySettings settings;
  bool json = false;
};

void SetRepo(const SetRepoOptions& options) {
  if (!options.settings.Given()) FailUsage("set-repo: no setting to change (see --help)");
  Attachment attachment;
  RegionLock lock;
  const FoundRepository found = FindRepository(options.name);
  KestiHistAdminRepository record = ReadRepository(found.slot);
  options.settings.ApplyTo(record);
  CheckInPlace(UpdateKestiHistAdminOneRepositoryHeader(KHA_UPDATE_EVERY_FIELD, found.slot, &record),
               "cannot update repository '" + options.name + "'");
  PrintResult(options.json, "repository '" + options.name + "' updated",
              {{"Repository", FieldText(record.RepositoryName)},
               {"Slot", found.slot},
               {"ReposNumber", found.number}});
}

struct DeleteRepoOptions {
  std::string name;
  bool yes = false;
  bool json = false;
};

void DeleteRepo(const DeleteRepoOptions& options) {
  Attachment attachment;
  (void)FindRepository(options.name);  // no question about one that is not there
  ConfirmOrStop("delete repository '" + options.name + "' with all its file sets", options.yes);
  RegionLock lock;
  const FoundRepository found = FindRepository(options.name);
  const int16_t file_sets = ReadRepository(found.slot).NumberFS;
  CheckInPlace(DeleteKestiHistAdminOneRepository(found.slot),
               "cannot delete repository '" + options.name + "'");
  PrintResult(options.json,
              "repository '" + options.name + "' deleted with its " +
                  Counted(file_sets, "file set", "file sets"),
              {{"Repository", options.name},
               {"Slot", found.slot},
               {"ReposNumber", found.number},
               {"FileSetsDeleted", file_sets}});
}

struct RenameRepoOptions {
  std::string name;
  std::string new_name;
  bool json = false;
};

// A name is written only when a repository is added, so a rename adds the
// repository anew under the new name with the old one's settings and file
// sets, then deletes the old one: all under one hold, so others see one
// change. Whatever fails before the delete takes the copy away again and
// leaves the old repository as it was.
void RenameRepo(const RenameRepoOptions& options) {
  Attachment attachment;
  RegionLock lock;
  const FoundRepository old_one = FindRepository(options.name);
  uint16_t clash = 0, clash_number = 0;
  Check(SearchKestiHistAdminRepositoryByName(options.new_name.c_str(), &clash, &clash_number),
        "cannot rename repository '" + options.name + "'");
  if (clash != 0 && clash != old_one.slot) {
    Fail("a repository named '" + options.new_name + "' already exists (slot " +
         std::to_string(clash) + ", number " + std::to_string(clash_number) + ")");
  }
  const KestiHistAdminRepository record = ReadRepository(old_one.slot);
  const std::vector<KestiHistAdminFileSet> file_sets = ReadFileSets(old_one.slot);

  uint16_t slot = 0, number = 0;
  Check(AddKestiHistAdminOneRepository(options.new_name.c_str(), record.Status, &slot, &number),
        "cannot add repository '" + options.new_name + "' for the rename");
  const auto undo = [&](int32_t code, const std::string& what) {
    (void)DeleteKestiHistAdminOneRepository(slot);
    FailWithCode(code, what + "; '" + options.name + "' is left as it was");
  };
  if (const int32_t code =
          UpdateKestiHistAdminOneRepositoryHeader(KHA_UPDATE_EVERY_FIELD, slot, &record);
      code != 0) {
    undo(code, "cannot copy the settings of '" + options.name + "'");
  }
  for (const KestiHistAdminFileSet& file_set : file_sets) {
    uint16_t file_set_number = 0, file_set_slot = 0;
    int32_t code = AddKestiHistAdminOneFileSet(slot, &file_set_number, &file_set_slot);
    if (code == 0) {
      code = UpdateKestiHistAdminOneFileSet(KHA_UPDATE_EVERY_FIELD, slot, file_set_slot, &file_set);
    }
    if (code != 0) undo(code, "cannot copy the file sets of '" + options.name + "'");
  }
  CheckInPlace(DeleteKestiHistAdminOneRepository(old_one.slot),
               "cannot delete '" + options.name + "' after copying it to '" + options.new_name +
                   "' (both are in the region now)");
  PrintResult(options.json,
              "repository '" + options.name + "' renamed to '" + options.new_name +
                  "', now in slot " + std::to_string(slot) + ", number " + std::to_string(number),
              {{"Repository", options.new_name},
               {"OldName", FieldText(record.RepositoryName)},
               {"Slot", slot},
               {"ReposNumber", number}});
}

}  // namespace

void AddRepositoryCommands(CLI::App& app, RunState&) {
  auto json = std::make_shared<bool>(false);

  CLI::App* list = app.add_subcommand("list", "The repositories in use, lowest slot first");
  AddJsonFlag(list, *json);
  list->callback([json] { List(*json); });

  auto name = std::make_shared<std::string>();
  CLI::App* show = app.add_subcommand("show", "One repository with its file sets");
  show->add_option("NAME", *name, "Repository name (ASCII case ignored)")
      ->required()
      ->check(RepositoryName());
  AddJsonFlag(show, *json);
  show->callback([name, json] { Show(*name, *json); });

  auto add = std::make_shared<AddRepoOptions>();
  CLI::App* add_repo = app.add_subcommand("add-repo", "Add a repository");
  add_repo->add_option("NAME", add->name, "Repository name, 1 to 30 characters")
      ->required()
      ->check(RepositoryName());
  AddStatusOption(add_repo, add->status,
                  "not-saved (0), saved (1, the default: to be saved), marked (2), "
                  "new (3: to be saved)");
  add->settings.AddOptions(add_repo, false);
  AddJsonFlag(add_repo, add->json);
  add_repo->callback([add] { AddRepo(*add); });

  auto set = std::make_shared<SetRepoOptions>();
  CLI::App* set_repo = app.add_subcommand("set-repo", "Change the settings of a repository");
  set_repo->add_option("NAME", set->name, "Repository name")->required()->check(RepositoryName());
  set->settings.AddOptions(set_repo, true);
  AddJsonFlag(set_repo, set->json);
  set_repo->callback([set] { SetRepo(*set); });

  auto rename = std::make_shared<RenameRepoOptions>();
  CLI::App* rename_repo =
      app.add_subcommand("rename-repo", "Rename a repository, keeping its settings and file sets");
  rename_repo->add_option("NAME", rename->name, "Repository name")
      ->required()
      ->check(RepositoryName());
  rename_repo->add_option("NEW_NAME", rename->new_name, "Its new name, 1 to 30 characters")
      ->required()
      ->check(RepositoryName());
  AddJsonFlag(rename_repo, rename->json);
  rename_repo->callback([rename] { RenameRepo(*rename); });

  auto remove = std::make_shared<DeleteRepoOptions>();
  CLI::App* delete_repo =
      app.add_subcommand("delete-repo", "Delete a repository together with its file sets");
  delete_repo->add_option("NAME", remove->name, "Repository name")
      ->required()
      ->check(RepositoryName());
  AddYesFlag(delete_repo, remove->yes);
  AddJsonFlag(delete_repo, remove->json);
  delete_repo->callback([remove] { DeleteRepo(*remove); });

  for (CLI::App* command : {list, show, add_repo, set_repo, rename_repo, delete_repo}) {
    command->group("Repositories");
  }
}

}  // namespace kha::histadmin
