// The steps that both loads take for each repository the historian's
// library lists; they differ only in the source they read and in what
// they do with one repository.
#pragma once

#include <cstdint>

#include "historian/marnuser.h"
#include "kestihistadmin.h"
#include "tables/repository_table.h"

namespace kha {

// Calls load_one(i, arc count) for every repository i of `source` whose
// arc count the library gives (a repository without one is skipped, and a
// failure of load_one ends only that repository). Returns false when the
// library cannot tell how many repositories there are. A count of 0 or
// below loads nothing.
template <typename LoadOne>
bool ForEachHistorianRepository(int source, LoadOne&& load_one) {
  int16_t repository_count = 0;
  if (marn_get_number_repositories(source, &repository_count) != 0) return false;
  for (int32_t i = 0; i < repository_count; ++i) {
    int16_t arc_count = 0;
    if (marn_get_number_arcs(source, i, &arc_count) != 0) continue;
    (void)load_one(i, arc_count);
  }
  return true;
}

// The slot of the repository called `name` (compared without regard to
// ASCII case), added with `status` when no repository has that name.
inline int32_t FindOrAddRepository(const char* name, int32_t status, uint16_t* slot) {
  uint16_t number = 0;
  if (const int32_t result = SearchRepositoryByName(name, slot, &number); result != KHA_OK) {
    return result;
  }
  if (*slot != 0) return KHA_OK;
  return AddOneRepository(name, status, slot, &number);
}

}  // namespace kha
