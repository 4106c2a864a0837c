// Whole states of the region for the tests that kill a process in the
// middle of a writing operation: a small region filled the same way every
// time, the writing operations to run on it, and the state that the next
// taker of the mutex sees, compared part by part.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "kestihistadmin.h"

namespace kha::test::reliability {

// Room for a few more slots of each table than the scene uses.
inline constexpr uint32_t kWholeStateRegionSize = 692 + 9 * 600 + 7 * 1144;

// Alpha with three file sets, Beta with one, Gamma with none, every record
// and the tuning block filled with distinct bytes; with `free_slots` also
// a deleted repository and a deleted file set whose slots are free.
struct Scene {
  bool made = false;
  uint16_t alpha = 0, gamma = 0;
  uint16_t alpha_second_file_set = 0;  // slot of Alpha's file set number 2

  std::vector<std::string> Args() const;
  static Scene FromArgs(const std::vector<std::string>& args, std::size_t first);
};

// A fresh region of this process (whatever it held before is detached).
Scene FreshRegion(bool free_slots);

// Records that the operations write, made the same way in every process;
// the scene's own records of Alpha, of Alpha's second file set and its
// tuning block too, to write back.
struct Inputs {
  KestiHistAdminRepository repository, scene_repository;
  KestiHistAdminFileSet file_set, scene_file_set;
  KestiHistAdminTuningData tuning, scene_tuning;
};
const Inputs& TheInputs();

// A writing operation as a caller makes it: one exported call.
struct WritingOperation {
  const char* name;
  bool free_slots;  // the scene it runs on
  int32_t (*run)(const Scene& scene, const Inputs& inputs);
};
const std::vector<WritingOperation>& WritingOperations();

// What callers see, taken under the mutex (so that a taker's recovery
// comes first): the header and the tuning block through their getters,
// every slot of both tables through the getters (free ones too; the
// result code for slots the getters refuse), and the raw bytes of the
// whole region besides.
using State = std::vector<std::pair<std::string, std::string>>;
State TakeState();

// The names of the parts in which two states differ ("" when equal).
std::string Differences(const State& a, const State& b);

}  // namespace kha::test::reliability
