// The file-set commands: add-fileset, set-fileset, delete-fileset. A file
// set is named by its repository and its number in the repository's chain
// (1 = the oldest), as `show` lists them.
#include <iostream>
#include <memory>
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

// Fails when `path` is held by another file set of the repository (one
// whose status is not 0), leaving out `skip_slot`.
void CheckPathIsFree(const FoundRepository& repository, const std::string& name, uint16_t skip_slot,
                     const std::string& path) {
  uint16_t slot = 0, number = 0;
  Check(CheckKestiHistAdminAllFileSetsForAFilePath(repository.slot, skip_slot, path.c_str(), &slot,
                                                   &number),
        "path '" + path + "' for repository '" + name + "'");
}

// Exit 2 when the record's time range ends before it starts: nothing has
// been written yet.
void CheckTimeRange(const KestiHistAdminFileSet& record) {
  if (const std::string error = TimeRangeError(record); !error.empty()) FailUsage(error);
}

struct AddFileSetOptions {
  std::string name;
  std::string path;
  FileSetSettings settings;
  bool json = false;
};

void AddFileSet(const AddFileSetOptions& options) {
  Attachment attachment;
  RegionLock lock;  // the check, the add and the update are one step
  const FoundRepository found = FindRepository(options.name);
  CheckPathIsFree(found, options.name, 0, options.path);
  KestiHistAdminFileSet record{};
  record.RecordStatus = KHA_STATUS_ACTIVE;
  SetField(record.FilePath, options.path);
  SetField(record.PendingFilePath, options.path);
  if (!options.settings.GivesParamSource() && options.settings.GivesOwnParameters()) {
    record.ParamSource = 1;
  }
  // Until told otherwise a file set takes its repository's values.
  const KestiHistAdminRepository repository = ReadRepository(found.slot);
  record.Size = record.PendingSize = repository.GlobalFileSetSize;
  record.Threshold = repository.GlobalThreshold;
  record.PendingThreshold = repository.PendingGlobalThreshold;
  record.Timespan = repository.GlobalTimeSpan;
  record.PendingTimespan = repository.PendingGlobalTimeSpan;
  options.settings.ApplyTo(record);
  CheckTimeRange(record);
  const std::string pending_path = FieldText(record.PendingFilePath);
  if (pending_path != options.path) CheckPathIsFree(found, options.name, 0, pending_path);

  uint16_t number = 0, slot = 0;
  Check(AddKestiHistAdminOneFileSet(found.slot, &number, &slot),
        "cannot add a file set to repository '" + options.name + "'");
  if (const int32_t code =
          UpdateKestiHistAdminOneFileSet(KHA_UPDATE_EVERY_FIELD, found.slot, slot, &record);
      code != 0) {
    // Not left behind half made.
    (void)DeleteKestiHistAdminOneFileSetForOneRepository(found.slot, number);
    CheckInPlace(code,
                 "cannot write file set " + std::to_string(number) + " of '" + options.name + "'");
  }
  PrintResult(options.json,
              "added file set " + std::to_string(number) + " of '" + options.name + "' in slot " +
                  std::to_string(slot) + ": " + options.path,
              {{"Repository", options.name},
               {"RepositorySlot", found.slot},
               {"Number", number},
               {"Slot", slot},
               {"FilePath", options.path}});
}

struct SetFileSetOptions {
  std::string name;
  uint16_t number = 0;
  FileSetSettings settings;
  bool json = false;
};

void SetFileSet(const SetFileSetOptions& options) {
  if (!options.settings.Given()) FailUsage("set-fileset: no setting to change (see --help)");
  Attachment attachment;
  RegionLock lock;
  const FoundRepository found = FindRepository(options.name);
  const uint16_t slot = FindFileSet(found, options.name, options.number);
  KestiHistAdminFileSet record = ReadFileSet(slot);
  const std::string old_path = FieldText(record.FilePath);
  const std::string old_pending_path = FieldText(record.PendingFilePath);
  options.settings.ApplyTo(record);
  CheckTimeRange(record);
  for (const std::string& path : {FieldText(record.FilePath), FieldText(record.PendingFilePath)}) {
    if (path != old_path && path != old_pending_path) {
      CheckPathIsFree(found, options.name, slot, path);
    }
  }
  CheckInPlace(
      UpdateKestiHistAdminOneFileSet(KHA_UPDATE_EVERY_FIELD, found.slot, slot, &record),
      "cannot update file set " + std::to_string(options.number) + " of '" + options.name + "'");
  PrintResult(options.json,
              "file set " + std::to_string(options.number) + " of '" + options.name + "' updated",
              {{"Repository", options.name},
               {"RepositorySlot", found.slot},
               {"Number", options.number},
               {"Slot", slot}});
}

struct DeleteFileSetOptions {
  std::string name;
  uint16_t number = 0;
  bool yes = false;
  bool json = false;
};

void DeleteFileSet(const DeleteFileSetOptions& options) {
  Attachment attachment;
  const std::string which =
      "file set " + std::to_string(options.number) + " of '" + options.name + "'";
  (void)FindFileSet(FindRepository(options.name), options.name, options.number);
  ConfirmOrStop("delete " + which, options.yes);
  RegionLock lock;
  const FoundRepository found = FindRepository(options.name);
  const uint16_t slot = FindFileSet(found, options.name, options.number);
  CheckInPlace(DeleteKestiHistAdminOneFileSetForOneRepository(found.slot, options.number),
               "cannot delete " + which);
  PrintResult(options.json, which + " deleted",
              {{"Repository", options.name},
               {"RepositorySlot", found.slot},
               {"Number", options.number},
               {"Slot", slot}});
}

}  // namespace

void AddFileSetCommands(CLI::App& app, RunState&) {
  auto add = std::make_shared<AddFileSetOptions>();
  CLI::App* add_fileset =
      app.add_subcommand("add-fileset", "Add a file set at the end of a repository's chain");
  add_fileset->add_option("NAME", add->name, "Repository name")
      ->required()
      ->check(RepositoryName());
  add_fileset->add_option("PATH", add->path, "Path of the file set")
      ->required()
      ->check(FileSetPath());
  add->settings.AddOptions(add_fileset, false);
  AddJsonFlag(add_fileset, add->json);
  add_fileset->callback([add] { AddFileSet(*add); });

  auto set = std::make_shared<SetFileSetOptions>();
  CLI::App* set_fileset = app.add_subcommand("set-fileset", "Change a file set");
  set_fileset->add_option("NAME", set->name, "Repository name")
      ->required()
      ->check(RepositoryName());
  set_fileset->add_option("N", set->number, "File-set number (1 = first in the chain)")
      ->required()
      ->check(CLI::Range(1, 32767));
  set->settings.AddOptions(set_fileset, true);
  AddJsonFlag(set_fileset, set->json);
  set_fileset->callback([set] { SetFileSet(*set); });

  auto remove = std::make_shared<DeleteFileSetOptions>();
  CLI::App* delete_fileset = app.add_subcommand(
      "delete-fileset", "Delete a file set; the later ones of the chain move up one number");
  delete_fileset->add_option("NAME", remove->name, "Repository name")
      ->required()
      ->check(RepositoryName());
  delete_fileset->add_option("N", remove->number, "File-set number")
      ->required()
      ->check(CLI::Range(1, 32767));
  AddYesFlag(delete_fileset, remove->yes);
  AddJsonFlag(delete_fileset, remove->json);
  delete_fileset->callback([remove] { DeleteFileSet(*remove); });

  for (CLI::App* command : {add_fileset, set_fileset, delete_fileset}) command->group("File sets");
}

}  // namespace kha::histadmin
