// Configuration transfer: filling the region from the running historian or
// from config.dat and tune.dat, and writing it back to those files, all
// through the historian's libraries (marnuser and drell).
//
// Every operation here runs with the HistAdmin mutex held by its caller.
// Repository and arc indexes are the library's, 0-based; slots are the
// region's, 1-based.
#pragma once

#include <cstdint>

#include "region/layout.h"

namespace kha {

class ChainPathIndex;

// The three defaults of a repository that its file sets without values of
// their own take: global file-set size, global threshold, global time span.
struct GlobalFileSetValues {
  int32_t size = 0;
  float threshold = 0.0f;
  int32_t time_span = 0;
};

// A file set has values of its own when its size is not -1, its threshold
// is not at or below 0.0 (a NaN counts as its own) and its time span is
// above 0.
bool HasOwnFileSetValues(int32_t size, float threshold, int32_t time_span);

// The three operations behind the exported loads and save. Each runs with
// the HistAdmin mutex held for its whole length.
int32_t LoadFromMarn();
int32_t LoadFromConfig();
int32_t SaveToConfig();

// --- Load from the running historian ------------------------------------
// The tuning block, with the paths and time stamps of config.dat and
// tune.dat, from the library into the region. Shared by both loads.
int32_t LoadTuningFromMarn();
int32_t LoadRepositoriesFromMarn();
int32_t LoadOneRepositoryFromMarn(int32_t repository_index, int16_t arc_count);
int32_t LoadRepositoryHeaderFromMarn(int32_t repository_index, uint16_t repository_slot,
                                     GlobalFileSetValues* globals);
int32_t LoadOneFileSetFromMarn(int32_t repository_index, int32_t arc_index,
                               uint16_t repository_slot, uint16_t file_set_slot,
                               const GlobalFileSetValues& globals);

// --- Load from the configuration files ----------------------------------
int32_t LoadRepositoriesFromConfig();
int32_t LoadOneRepositoryFromConfig(int32_t repository_index, int16_t arc_count);
int32_t LoadRepositoryHeaderFromConfig(int32_t repository_index, uint16_t repository_slot,
                                       GlobalFileSetValues* globals);
// `paths` indexes the repository's chain by path for this repository's
// load; it is told about the file sets this call adds.
int32_t LoadOneFileSetFromConfig(int32_t repository_index, int32_t arc_index,
                                 uint16_t repository_slot, const GlobalFileSetValues& globals,
                                 ChainPathIndex* paths);

// --- Save to the configuration files ------------------------------------
int32_t SaveTuningToMarn(const TuningData& tuning);
int32_t SaveRepositoriesToMarn();
int32_t SaveOneRepositoryToMarn(int32_t save_index, uint16_t repository_slot,
                                uint16_t file_set_count);
int32_t SaveRepositoryHeaderToMarn(int32_t save_index, uint16_t repository_slot,
                                   uint16_t file_set_count);
int32_t SaveOneFileSetToMarn(int32_t save_index, uint16_t file_set_slot, int32_t arc_index);

}  // namespace kha
