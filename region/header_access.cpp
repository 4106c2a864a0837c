// The region header and the tuning block as whole-block accessors.
#include "region/header_access.h"

#include <cstring>

#include "kestihistadmin.h"
#include "region/journal.h"
#include "region/layout.h"
#include "region/lifecycle.h"
#include "region/process_state.h"
#include "region/region_view.h"
#include "region/slot_hints.h"

namespace kha {
namespace {

constexpr uint32_t kKeepRegionSize = 0xFFFFFFFFu;
constexpr int16_t kKeepField = -1;

// A region size the region can have: it holds the header and the tuning
// block, and the view holds it. The high-water marks and counts are the
// caller's to set to anything; where they put the tables over each other
// or beyond the view, every operation still finds only records inside the
// view (TableGeometry), and nothing repairs what the caller shaped.
bool ViewHoldsRegionOf(uint32_t region_size) {
  const auto view_length = static_cast<uint64_t>(HistAdminProcess().view_length.load());
  return region_size >= kFileSetTableOffset && region_size <= view_length;
}

}  // namespace

int32_t GetHeader(uint32_t* region_size, uint16_t* repos_high_water, uint16_t* number_repos,
                  uint16_t* fs_high_water, uint16_t* number_file_sets) {
  const RegionHeader* header = HistAdminHeader();
  if (header == nullptr) return KHA_NOT_MAPPED;
  if (region_size != nullptr) *region_size = header->RegionSize;
  if (repos_high_water != nullptr)
    *repos_high_water = static_cast<uint16_t>(header->ReposHighWater);
  if (number_repos != nullptr) *number_repos = header->NumberRepos;
  if (fs_high_water != nullptr) *fs_high_water = static_cast<uint16_t>(header->FSHighWater);
  if (number_file_sets != nullptr) *number_file_sets = header->NumberFileSets;
  return KHA_OK;
}

int32_t PutHeader(uint32_t region_size, int16_t repos_high_water, int16_t number_repos,
                  int16_t fs_high_water, int16_t number_file_sets) {
  RegionHeader* header = HistAdminHeader();
  if (header == nullptr) return KHA_NOT_MAPPED;
  RegionHeader next = *header;
  if (region_size != kKeepRegionSize) next.RegionSize = region_size;
  if (repos_high_water != kKeepField) next.ReposHighWater = repos_high_water;
  if (number_repos != kKeepField) next.NumberRepos = static_cast<uint16_t>(number_repos);
  if (fs_high_water != kKeepField) next.FSHighWater = fs_high_water;
  if (number_file_sets != kKeepField) next.NumberFileSets = static_cast<uint16_t>(number_file_sets);
  if (region_size != kKeepRegionSize && !ViewHoldsRegionOf(region_size)) return KHA_NO_SPACE;
  const JournalUnit unit;
  if (!SaveHeaderForUndo(*header)) return kUnitRefused;
  *header = next;
  ForgetFreeSlotHints();  // the tables may have moved or shrunk
  return FlushHistAdminView();
}

int32_t GetTuningData(void* tuning) {
  const TuningData* block = HistAdminTuning();
  if (block == nullptr) return KHA_NOT_MAPPED;
  if (tuning != nullptr) std::memcpy(tuning, block, kTuningSize);
  return KHA_OK;
}

int32_t PutTuningData(const void* tuning) {
  TuningData* block = HistAdminTuning();
  if (block == nullptr) return KHA_NOT_MAPPED;
  const JournalUnit unit;
  if (tuning != nullptr) {
    if (!SaveForUndo(*block)) return kUnitRefused;
    std::memmove(block, tuning, kTuningSize);  // the caller's block may lie in the view
  }
  return FlushHistAdminView();
}

}  // namespace kha
