// histadmin watch: prints each change of the table until interrupted.
//
// Cheap while nothing happens: each tick reads the journal's count of
// changes (region/tools_door.h), a few bytes, and the table is read only
// when the count moved. The watcher attaches only for that read, so it
// never keeps a region alive that its server has released.
#include <chrono>
#include <csignal>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "commands.h"
#include "failure.h"
#include "journal_record.h"
#include "kestihistadmin.h"
#include "output.h"
#include "region/tools_door.h"
#include "region_access.h"
#include "session.h"
#include "settings.h"
#include "tuning_values.h"

namespace kha::histadmin {
namespace {

using Json = nlohmann::ordered_json;

volatile std::sig_atomic_t watch_stop_requested = 0;

extern "C" void RequestWatchStop(int) { watch_stop_requested = 1; }

struct WatchOptions {
  float interval = 1.0f;
  bool json = false;
};

// One state of the table: records by slot.
struct Picture {
  Json tuning;
  std::map<int, Json> repositories;  // slot -> record
  std::map<int, Json> file_sets;     // slot -> record, with "Repository" and "Number"
};

std::optional<Picture> TakePicture() {
  if (AttachToKestiHistAdminSharedMemory() != 0) return std::nullopt;
  Picture picture;
  {
    RegionLock lock;
    picture.tuning = TuningJson(ReadTuning());
    for (const KestiHistAdminRepository& r : ReadAllRepositories()) {
      picture.repositories[r.Index] = RepositoryJson(r);
      int number = 0;
      for (const KestiHistAdminFileSet& f : ReadFileSets(static_cast<uint16_t>(r.Index))) {
        Json record = FileSetJson(f);
        record["Repository"] = FieldText(r.RepositoryName);
        record["Number"] = ++number;
        picture.file_sets[f.Index] = std::move(record);
      }
    }
  }
  (void)DetachFromKestiHistAdminSharedMemory();
  return picture;
}

// "Field old -> new, ..." of the fields that differ.
std::string ChangedFields(const Json& before, const Json& after, Json& changes) {
  std::string text;
  for (const auto& [key, value] : after.items()) {
    if (before.contains(key) && before[key] == value) continue;
    const Json old = before.contains(key) ? before[key] : Json();
    changes[key] = {{"Before", old}, {"After", value}};
    text += (text.empty() ? "" : ", ") + key + " " + old.dump() + " -> " + value.dump();
  }
  return text;
}

void Say(bool json, const std::string& text, Json event) {
  const std::string now =
      DateText({static_cast<int32_t>(std::chrono::duration_cast<std::chrono::seconds>(
                                         std::chrono::system_clock::now().time_since_epoch())
                                         .count()),
                0});
  if (json) {
    Json line = {{"Time", now}};
    line.update(event);
    std::cout << line.dump(-1, ' ', true, Json::error_handler_t::replace) << std::endl;
  } else {
    std::cout << now << "  " << text << std::endl;
  }
}

std::string FileSetName(const Json& record) {
  return "file set " + record["Number"].dump() + " of '" + record["Repository"].get<std::string>() +
         "'";
}

void PrintChanges(const Picture& before, const Picture& after, bool json) {
  Json changes = Json::object();
  if (const std::string text = ChangedFields(before.tuning, after.tuning, changes); !text.empty()) {
    Say(json, "tuning block changed: " + text, {{"Change", "tuning"}, {"Fields", changes}});
  }
  for (const auto& [slot, record] : before.repositories) {
    const auto now = after.repositories.find(slot);
    const std::string name = record["RepositoryName"].get<std::string>();
    if (now == after.repositories.end() || now->second["ReposNumber"] != record["ReposNumber"]) {
      Say(json, "repository '" + name + "' deleted (slot " + std::to_string(slot) + ")",
          {{"Change", "repository deleted"}, {"Repository", name}, {"Slot", slot}});
    }
  }
  for (const auto& [slot, record] : after.repositories) {
    const auto was = before.repositories.find(slot);
    const std::string name = record["RepositoryName"].get<std::string>();
    if (was == before.repositories.end() || was->second["ReposNumber"] != record["ReposNumber"]) {
      Say(json,
          "repository '" + name + "' added (slot " + std::to_string(slot) + ", number " +
              record["ReposNumber"].dump() + ")",
          {{"Change", "repository added"}, {"Repository", name}, {"Slot", slot}});
      continue;
    }
    changes = Json::object();
    if (const std::string text = ChangedFields(was->second, record, changes); !text.empty()) {
      Say(json, "repository '" + name + "' changed: " + text,
          {{"Change", "repository changed"},
           {"Repository", name},
           {"Slot", slot},
           {"Fields", changes}});
    }
  }
  for (const auto& [slot, record] : before.file_sets) {
    if (!after.file_sets.contains(slot)) {
      Say(json, FileSetName(record) + " deleted (slot " + std::to_string(slot) + ")",
          {{"Change", "file set deleted"}, {"Repository", record["Repository"]}, {"Slot", slot}});
    }
  }
  for (const auto& [slot, record] : after.file_sets) {
    const auto was = before.file_sets.find(slot);
    if (was == before.file_sets.end()) {
      Say(json,
          FileSetName(record) + " added (slot " + std::to_string(slot) +
              "): " + record["FilePath"].get<std::string>(),
          {{"Change", "file set added"}, {"Repository", record["Repository"]}, {"Slot", slot}});
      continue;
    }
    changes = Json::object();
    if (const std::string text = ChangedFields(was->second, record, changes); !text.empty()) {
      Say(json, FileSetName(record) + " changed: " + text,
          {{"Change", "file set changed"},
           {"Repository", record["Repository"]},
           {"Slot", slot},
           {"Fields", changes}});
    }
  }
}

// The journal's record: a change of either count means the table may
// have changed. Unreadable: every tick looks at the table.
inspection::JournalRecord ChangeCounts() { return RegionJournalRecord(); }

bool SameCounts(const inspection::JournalRecord& a, const inspection::JournalRecord& b) {
  return a.readable && b.readable && a.changes == b.changes && a.takeovers == b.takeovers;
}

void Watch(const WatchOptions& options) {
  std::signal(SIGINT, RequestWatchStop);
  std::signal(SIGTERM, RequestWatchStop);
  std::optional<Picture> picture;
  {
    Attachment attachment;  // fails plainly when there is no region, waits for a server's load
    picture = TakePicture();
  }
  if (!picture) Fail("no HistAdmin region is running: start `histadmin serve`");
  inspection::JournalRecord counts = ChangeCounts();
  std::cerr << "histadmin: watching the HistAdmin region; stop with Ctrl-C" << std::endl;
  const auto tick = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::duration<float>(std::max(options.interval, 0.05f)));
  while (watch_stop_requested == 0) {
    std::this_thread::sleep_for(tick);
    const inspection::JournalRecord now = ChangeCounts();
    if (SameCounts(now, counts)) continue;
    std::optional<Picture> next = TakePicture();
    if (!next) {
      std::cerr << "histadmin: the HistAdmin region is gone" << std::endl;
      return;
    }
    counts = now;
    PrintChanges(*picture, *next, options.json);
    picture = std::move(next);
  }
}

}  // namespace

void AddWatchCommands(CLI::App& app, RunState&) {
  auto options = std::make_shared<WatchOptions>();
  CLI::App* watch = app.add_subcommand(
      "watch", "Print each change of the table as it happens, until interrupted");
  watch
      ->add_option("--interval", options->interval,
                   "Seconds between two looks (default 1; each look reads a few bytes)")
      ->check(FiniteNotNegative())
      ->type_name("SECONDS");
  watch->add_flag("--json", options->json, "One JSON object per change and line");
  watch->callback([options] { Watch(*options); });
  watch->group("The region");
}

}  // namespace kha::histadmin
