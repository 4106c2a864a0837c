// histadmin export and import: the whole table to a file and back
// (table_file.h), for backup and restore.
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>

#include "commands.h"
#include "failure.h"
#include "output.h"
#include "session.h"
#include "table_file.h"

namespace kha::histadmin {
namespace {

struct ExportOptions {
  std::string file;
  bool force = false;
  bool json = false;
};

void Export(const ExportOptions& options) {
  const std::filesystem::path path(options.file);
  std::error_code error;
  if (!options.force && std::filesystem::exists(path, error)) {
    Fail("export: " + options.file + " exists; give --force to replace it");
  }
  nlohmann::ordered_json table;
  {
    Attachment attachment;
    RegionLock lock;  // one picture of the whole table
    table = ExportTable();
  }
  // Written beside it first, so that a failed write leaves an older
  // backup of the same name whole.
  const std::filesystem::path partial = path.string() + ".partial";
  {
    std::ofstream out(partial, std::ios::binary | std::ios::trunc);
    out << table.dump(2) << '\n';
    out.close();
    if (!out) {
      std::filesystem::remove(partial, error);
      Fail("export: cannot write " + partial.string());
    }
  }
  std::filesystem::rename(partial, path, error);
  if (error) {
    std::filesystem::remove(partial, error);
    Fail("export: cannot put the table in place as " + options.file + ": " + error.message());
  }
  const auto& repositories = table["Repositories"];
  std::size_t file_sets = 0;
  for (const auto& repository : repositories) file_sets += repository["FileSets"].size();
  PrintResult(
      options.json,
      "exported " +
          Counted(static_cast<long long>(repositories.size()), "repository", "repositories") +
          " and " + Counted(static_cast<long long>(file_sets), "file set", "file sets") + " to " +
          options.file,
      {{"File", options.file}, {"Repositories", repositories.size()}, {"FileSets", file_sets}});
}

struct ImportOptions {
  std::string file;
  bool json = false;
};

void Import(const ImportOptions& options) {
  std::ifstream in(options.file, std::ios::binary);
  if (!in) Fail("import: cannot read " + options.file);
  std::stringstream text;
  text << in.rdbuf();
  const nlohmann::ordered_json table =
      nlohmann::ordered_json::parse(text.str(), nullptr, /*allow_exceptions=*/false);
  if (table.is_discarded()) {
    Fail("import: " + options.file + " is not JSON (broken or cut short); nothing was written");
  }
  Attachment attachment;
  RegionLock lock;  // others see the import as one change
  const ImportOutcome outcome = ImportTable(table);
  for (const std::string& difference : outcome.differences) {
    std::cerr << "histadmin: " << difference << '\n';
  }
  PrintResult(options.json,
              "imported " + Counted(outcome.repositories, "repository", "repositories") + " and " +
                  Counted(outcome.file_sets, "file set", "file sets") + " from " + options.file,
              {{"File", options.file},
               {"Repositories", outcome.repositories},
               {"FileSets", outcome.file_sets},
               {"Differences", outcome.differences}});
}

}  // namespace

void AddBackupCommands(CLI::App& app, RunState&) {
  auto out = std::make_shared<ExportOptions>();
  CLI::App* export_command = app.add_subcommand(
      "export", "Write the whole table (tuning block, repositories, file sets) to a JSON file");
  export_command->add_option("FILE", out->file, "The file to write")->required();
  export_command->add_flag("--force", out->force, "Replace FILE if it exists");
  AddJsonFlag(export_command, out->json);
  export_command->callback([out] { Export(*out); });

  auto in = std::make_shared<ImportOptions>();
  CLI::App* import_command =
      app.add_subcommand("import", "Fill an empty region from a file that `export` wrote");
  import_command->add_option("FILE", in->file, "The file to read")->required();
  AddJsonFlag(import_command, in->json);
  import_command->callback([in] { Import(*in); });

  export_command->group("Backup");
  import_command->group("Backup");
}

}  // namespace kha::histadmin
