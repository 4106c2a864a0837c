// A HistAdmin region of this benchmark process, filled with the records of
// bench_records.h. Its kernel objects carry a per-process name prefix, so
// a benchmark never touches a real region nor another run's.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/bench_records.h"
#include "kestihistadmin.h"

namespace kha::bench {

inline void UsePrivateObjectNames() {
  static const bool done = [] {
    const std::string prefix = "bench" + std::to_string(::getpid()) + "_";
    ::setenv("KESTIHISTADMIN_NAME_PREFIX", prefix.c_str(), 1);
    return true;
  }();
  (void)done;
}

// Region size that holds `repositories` repository records and
// `file_sets` file-set records, and nothing more.
inline uint32_t RegionSizeFor(int repositories, int file_sets = 0) {
  return static_cast<uint32_t>(KHA_FILESET_TABLE_OFFSET +
                               repositories * KHA_REPOSITORY_RECORD_SIZE +
                               file_sets * KHA_FILESET_RECORD_SIZE);
}

// Sets up a region holding repositories 1..count (slot k holds record k)
// and detaches completely when it goes.
class FilledRegion {
 public:
  explicit FilledRegion(int count, int file_sets = 0) {
    UsePrivateObjectNames();
    if (SetupAndAttachToKestiHistAdminSharedMemory(RegionSizeFor(count, file_sets)) != KHA_OK) {
      std::fprintf(stderr, "bench: cannot set up a region\n");
      std::abort();
    }
    for (int k = 1; k <= count; ++k) {
      const KestiHistAdminRepository record = RepositoryValue(k);
      uint16_t slot = 0;
      uint16_t number = 0;
      if (AddKestiHistAdminOneRepository(record.RepositoryName, record.Status, &slot, &number) !=
              KHA_OK ||
          slot != k || UpdateKestiHistAdminOneRepositoryHeader(0, slot, &record) != KHA_OK) {
        std::fprintf(stderr, "bench: cannot fill the region\n");
        std::abort();
      }
    }
  }
  ~FilledRegion() {
    while (DetachFromKestiHistAdminSharedMemory() == KHA_OK) {
    }
  }
  FilledRegion(const FilledRegion&) = delete;
  FilledRegion& operator=(const FilledRegion&) = delete;
};

}  // namespace kha::bench
