// PrintKestiHistAdminAllRepository: every repository in use, lowest slot
// first, each followed by its file sets in chain order. One hold of the
// mutex for the whole dump, so it shows one consistent state of the region.
#include <cstdio>

#include "diag/region_dump.h"
#include "kestihistadmin.h"
#include "region/locking.h"
#include "region/region_view.h"
#include "tables/chain.h"

extern "C" KESTIHISTADMIN_API void KHA_CALL PrintKestiHistAdminAllRepository(void) {
  {
    kha::HistAdminLock lock;
    // Not attached: no view, nothing printed, no region touched.
    if (kha::HistAdminHeader() == nullptr) return;
    kha::ForEachRepositoryInUse([](int16_t slot, const kha::RepositoryRecord&) {
      kha::PrintOneRepository(slot);
      return true;
    });
    // Written out before the mutex goes, so that no other process changes
    // the region while the text is still on its way.
    std::fflush(stdout);
  }
}
