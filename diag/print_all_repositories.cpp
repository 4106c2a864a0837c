// The dump of every repository in use, lowest slot first, each followed by
// its file sets in chain order. Run under one hold of the mutex, so it
// shows one consistent state of the region.
#include <cstdio>

#include "diag/region_dump.h"
#include "region/region_view.h"
#include "tables/chain.h"

namespace kha {

void PrintAllRepositories() {
  // Not attached: no view, nothing printed, no region touched.
  if (HistAdminHeader() == nullptr) return;
  ForEachRepositoryInUse([](int16_t slot, const RepositoryRecord&) {
    PrintOneRepository(slot);
    return true;
  });
  // Written out before the caller lets the mutex go, so that no other
  // process changes the region while the text is still on its way.
  std::fflush(stdout);
}

}  // namespace kha
