#include "load_report.h"

#include <cstring>
#include <iostream>

#include "drell.h"
#include "failure.h"
#include "kestihistadmin.h"
#include "marnuser.h"
#include "output.h"
#include "region_access.h"

namespace kha::histadmin {
namespace {

constexpr char FoldAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

// A path as the loads compare it: normalised, network paths to this
// machine made local. `path` is a 256-byte buffer.
std::string ComparablePath(char* path, bool normalise) {
  path[MARN_PATH_SIZE - 1] = '\0';
  if (normalise) {
    (void)fixHistoryFilePath(path, static_cast<int>(std::strlen(path)), 1);
    path[MARN_PATH_SIZE - 1] = '\0';
  }
  char local[MARN_PATH_SIZE] = {};
  (void)ConvertUNC2LocalPath(path, local);
  local[MARN_PATH_SIZE - 1] = '\0';
  std::string folded(local);
  for (char& c : folded) c = FoldAscii(c);
  return folded;
}

// Whether the region holds file sets for every arc of repository `index`:
// a file set with the arc's path that this load made or confirmed (a load
// from the files leaves the unconfirmed ones marked, status 2).
std::string MissingFileSets(int source, int index, int16_t arcs, uint16_t slot) {
  std::vector<std::string> held;
  for (const KestiHistAdminFileSet& file_set : ReadFileSets(slot)) {
    if (source == MARN_SOURCE_CONFIG && file_set.RecordStatus == KHA_STATUS_MARKED) continue;
    char path[MARN_PATH_SIZE];
    std::memcpy(path, file_set.PendingFilePath, sizeof path);
    held.push_back(ComparablePath(path, false));
  }
  int loaded = 0;
  for (int arc = 0; arc < arcs; ++arc) {
    int16_t history_status = 0;
    char path[MARN_PATH_SIZE] = {};
    marn_time start{}, end{};
    int32_t size = 0, time_span = 0;
    float threshold = 0.0f;
    if (marn_get_arc_data(source, index, arc, &history_status, path, &start, &end, &size,
                          &threshold, &time_span) != 0) {
      continue;
    }
    const std::string wanted = ComparablePath(path, true);
    for (const std::string& candidate : held) {
      if (candidate == wanted) {
        ++loaded;
        break;
      }
    }
  }
  if (loaded == arcs) return {};
  return "not complete: " + std::to_string(loaded) + " of " + std::to_string(arcs) +
         " file sets loaded";
}

bool SettingsReadable(int source, int index) {
  char path[MARN_PATH_SIZE] = {}, backup[MARN_PATH_SIZE] = {};
  int32_t values[10] = {};
  int16_t count = 0;
  float threshold = 0.0f;
  return marn_get_rep_data(source, index, nullptr, path, backup, &values[0], &count, &values[1],
                           &values[2], &threshold, &values[3], &values[4], &values[5], &values[6],
                           &values[7], &values[8]) == 0;
}

// What to do when the tables have no free slot of the kind and no room to
// carve one: a load leaves out what does not fit, and says nothing.
std::string FullNote(bool file_sets) {
  const KestiHistAdminRegionHeader header = ReadHeader();
  const bool no_free_slot = file_sets ? header.NumberFileSets >= header.FSHighWater
                                      : header.NumberRepos >= header.ReposHighWater;
  const uint32_t record = file_sets ? KHA_FILESET_RECORD_SIZE : KHA_REPOSITORY_RECORD_SIZE;
  if (!no_free_slot || FreeSpaceOf(header) >= record) return {};
  return " (the region is full: serve it with a larger `--size`)";
}

}  // namespace

void FailIfIncomplete(const std::vector<std::string>& report) {
  if (report.empty()) return;
  for (const std::string& line : report) std::cerr << "histadmin: " << line << '\n';
  Fail("the load returned 0, but " + std::to_string(report.size()) +
       (report.size() == 1 ? " repository was" : " repositories were") +
       " not loaded or not complete");
}

std::vector<std::string> RepositoriesNotLoaded(int source) {
  std::vector<std::string> report;
  int16_t count = 0;
  if (marn_get_number_repositories(source, &count) != 0) return report;
  for (int index = 0; index < count; ++index) {
    const std::string which =
        "repository " + std::to_string(index + 1) + " of " + std::to_string(count);
    int16_t arcs = 0;
    if (marn_get_number_arcs(source, index, &arcs) != 0) {
      report.push_back(which + ": not loaded: its number of file sets cannot be read");
      continue;
    }
    char name[KHA_NAME_FIELD_SIZE] = {};
    if (get_repos_name(source, index, name) != 0) {
      report.push_back(which + ": not loaded: its name cannot be read");
      continue;
    }
    const std::string named = which + " (" + ShownText(FieldText(name)) + ")";
    const std::size_t length = strnlen(name, sizeof name);
    if (length == 0 || length > KHA_MAX_NAME_LENGTH) {
      report.push_back(named + ": not loaded: a name has 1 to " +
                       std::to_string(KHA_MAX_NAME_LENGTH) + " characters");
      continue;
    }
    uint16_t slot = 0, number = 0;
    if (SearchKestiHistAdminRepositoryByName(name, &slot, &number) != 0 || slot == 0) {
      report.push_back(named + ": not loaded" + FullNote(false));
      continue;
    }
    if (!SettingsReadable(source, index)) {
      report.push_back(named + ": not complete: its settings cannot be read");
      continue;
    }
    if (std::string missing = MissingFileSets(source, index, arcs, slot); !missing.empty()) {
      report.push_back(named + ": " + missing + FullNote(true));
    }
  }
  return report;
}

}  // namespace kha::histadmin
