// Costs of the table operations, each beside its floor: a plain loop over
// the same mapped view doing the same comparisons, copies and flushes, with
// no lock and no bounds checks. The operation's time over its floor is
// what the library adds (the mutex, the checked walks); flushes are msync
// calls over the whole view on both sides.
//
// Each benchmark builds its own region under a private name prefix; the
// tables are filled directly in the view, which is far quicker than
// thousands of adds with two flushes each.
#include <benchmark/benchmark.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "kestihistadmin.h"
#include "platform/platform.h"
#include "platform/testing/name_prefix.h"
#include "region/lifecycle.h"
#include "region/region_view.h"
#include "tables/name_compare.h"

#if defined(_WIN32)
#include <process.h>
#define getpid _getpid
#else
#include <unistd.h>
#endif

namespace {

std::string RepositoryName(int32_t slot) {
  char name[32];
  std::snprintf(name, sizeof name, "Repository%05d", static_cast<int>(slot));
  return name;
}

// A region of `repositories` repositories in use (slots 1..n, numbers
// 1..n) and `file_sets` file sets, all in the chain of repository 1.
class Region {
 public:
  Region(int32_t repositories, int32_t file_sets) {
    const uint32_t size = KHA_FILESET_TABLE_OFFSET +
                          static_cast<uint32_t>(file_sets + 1) * KHA_FILESET_RECORD_SIZE +
                          static_cast<uint32_t>(repositories + 1) * KHA_REPOSITORY_RECORD_SIZE;
    ok_ = SetupAndAttachToKestiHistAdminSharedMemory(size) == KHA_OK;
    if (!ok_) return;
    KestiHistAdminRegionHeader* header = kha::HistAdminHeader();
    header->ReposHighWater = static_cast<int16_t>(repositories);
    header->NumberRepos = static_cast<uint16_t>(repositories);
    header->FSHighWater = static_cast<int16_t>(file_sets);
    header->NumberFileSets = static_cast<uint16_t>(file_sets);
    for (int32_t k = 1; k <= repositories; ++k) {
      KestiHistAdminRepository* r = kha::RepositoryRecordAt(k);
      std::snprintf(r->RepositoryName, sizeof r->RepositoryName, "%s", RepositoryName(k).c_str());
      r->Status = 1;
      r->SlotUsage = 1;
      r->Index = static_cast<int16_t>(k);
      r->ReposNumber = static_cast<uint16_t>(k);
    }
    for (int32_t k = 1; k <= file_sets; ++k) {
      KestiHistAdminFileSet* f = kha::FileSetRecordAt(k);
      f->RecordStatus = 1;
      f->SlotUsage = 1;
      f->Index = static_cast<int16_t>(k);
      f->ReposIndex = 1;
      f->NextIndex = static_cast<int16_t>(k == file_sets ? 0 : k + 1);
    }
    if (file_sets > 0) {
      KestiHistAdminRepository* owner = kha::RepositoryRecordAt(1);
      owner->NumberFS = static_cast<int16_t>(file_sets);
      owner->FirstFS = 1;
      owner->LastFS = static_cast<int16_t>(file_sets);
    }
  }
  ~Region() {
    while (DetachFromKestiHistAdminSharedMemory() == KHA_OK) {
    }
  }
  bool ok() const { return ok_; }

 private:
  bool ok_ = false;
};

// Record addresses for the floors: plain arithmetic from the view, no
// checks. Repository slot 1 lies last, the others below it.
std::byte* View() { return reinterpret_cast<std::byte*>(kha::HistAdminHeader()); }
KestiHistAdminRepository* Repository(std::byte* view, uint32_t region_size, int32_t slot) {
  return reinterpret_cast<KestiHistAdminRepository*>(
      view + region_size - static_cast<std::size_t>(slot) * KHA_REPOSITORY_RECORD_SIZE);
}
KestiHistAdminFileSet* FileSet(std::byte* view, int32_t slot) {
  return reinterpret_cast<KestiHistAdminFileSet*>(view + KHA_FILESET_TABLE_OFFSET +
                                                  static_cast<std::size_t>(slot - 1) *
                                                      KHA_FILESET_RECORD_SIZE);
}

// --- Search by name, the match in the last slot --------------------------

void SearchByName(benchmark::State& state) {
  const auto n = static_cast<int32_t>(state.range(0));
  Region region(n, 0);
  if (!region.ok()) return state.SkipWithError("no region");
  std::string wanted = RepositoryName(n);
  for (char& c : wanted) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  for (auto _ : state) {
    uint16_t slot = 0, number = 0;
    SearchKestiHistAdminRepositoryByName(wanted.c_str(), &slot, &number);
    if (slot != n) state.SkipWithError("not found");
    benchmark::DoNotOptimize(slot);
  }
}

void SearchByNameFloor(benchmark::State& state) {
  const auto n = static_cast<int32_t>(state.range(0));
  Region region(n, 0);
  if (!region.ok()) return state.SkipWithError("no region");
  std::string wanted = RepositoryName(n);
  for (char& c : wanted) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  for (auto _ : state) {
    const kha::RepositoryNameKey key(wanted.c_str(), wanted.size());
    std::byte* view = View();
    const KestiHistAdminRegionHeader* header = kha::HistAdminHeader();
    int32_t found = 0;
    for (int32_t k = 1; k <= header->ReposHighWater; ++k) {
      const KestiHistAdminRepository* r = Repository(view, header->RegionSize, k);
      if (r->SlotUsage == 1 && key.Matches(r->RepositoryName)) {
        found = k;
        break;
      }
    }
    if (found != n) state.SkipWithError("not found");
    benchmark::DoNotOptimize(found);
  }
}

// --- Add and delete of a repository among 1,000 --------------------------

void AddDeleteRepository(benchmark::State& state) {
  Region region(1000, 0);
  if (!region.ok()) return state.SkipWithError("no region");
  for (auto _ : state) {
    uint16_t slot = 0, number = 0;
    AddKestiHistAdminOneRepository("Newcomer", 1, &slot, &number);
    if (DeleteKestiHistAdminOneRepository(slot) != KHA_OK) state.SkipWithError("delete failed");
  }
}

void AddDeleteRepositoryFloor(benchmark::State& state) {
  Region region(1000, 0);
  if (!region.ok()) return state.SkipWithError("no region");
  KestiHistAdminRegionHeader* header = kha::HistAdminHeader();
  std::byte* view = View();
  const uint32_t size = header->RegionSize;
  auto repository = [&](int32_t k) { return Repository(view, size, k); };
  for (auto _ : state) {
    // The add: lowest free slot (or a new one), flush, largest number,
    // the record's fields, flush.
    int32_t slot = 0;
    for (int32_t k = 1; k <= header->ReposHighWater && slot == 0; ++k) {
      if (repository(k)->SlotUsage == 0) slot = k;
    }
    if (slot == 0) {
      slot = header->ReposHighWater + 1;
      repository(slot)->SlotUsage = 0;
      repository(slot)->Index = static_cast<int16_t>(slot);
      header->ReposHighWater = static_cast<int16_t>(slot);
    }
    kha::FlushHistAdminView();
    int32_t highest = 0;
    for (int32_t k = 1; k <= header->ReposHighWater; ++k) {
      const KestiHistAdminRepository* r = repository(k);
      if (r->SlotUsage == 1 && static_cast<int16_t>(r->ReposNumber) > highest) {
        highest = static_cast<int16_t>(r->ReposNumber);
      }
    }
    KestiHistAdminRepository* r = repository(slot);
    ++header->NumberRepos;
    r->ReposNumber = static_cast<uint16_t>(highest + 1);
    std::memcpy(r->RepositoryName, "Newcomer", 9);
    r->Status = 1;
    r->SlotUsage = 1;
    r->Index = static_cast<int16_t>(slot);
    r->NumberFS = r->FirstFS = r->LastFS = 0;
    kha::FlushHistAdminView();
    // The delete: an empty chain released and flushed, the slot freed and
    // flushed.
    r->NumberFS = r->FirstFS = r->LastFS = 0;
    kha::FlushHistAdminView();
    r->SlotUsage = 0;
    r->Status = 0;
    r->ReposNumber = 0;
    --header->NumberRepos;
    kha::FlushHistAdminView();
  }
}

// --- List of 1,000 repositories -------------------------------------------

void ListRepositories(benchmark::State& state) {
  Region region(1000, 0);
  if (!region.ok()) return state.SkipWithError("no region");
  std::vector<KestiHistAdminRepository> records(1000);
  const int16_t capacity = 1000;
  for (auto _ : state) {
    uint16_t count = 0;
    GetKestiHistAdminAllRepositories(&capacity, records.data(), &count);
    if (count != 1000) state.SkipWithError("wrong count");
    benchmark::DoNotOptimize(records.data());
  }
}

void ListRepositoriesFloor(benchmark::State& state) {
  Region region(1000, 0);
  if (!region.ok()) return state.SkipWithError("no region");
  std::vector<KestiHistAdminRepository> records(1000);
  for (auto _ : state) {
    std::byte* view = View();
    const KestiHistAdminRegionHeader* header = kha::HistAdminHeader();
    int32_t count = 0;
    for (int32_t k = 1; k <= header->ReposHighWater; ++k) {
      const KestiHistAdminRepository* r = Repository(view, header->RegionSize, k);
      if (r->SlotUsage != 1) continue;
      if (count < 1000) std::memcpy(&records[static_cast<std::size_t>(count)], r, sizeof *r);
      ++count;
    }
    if (count != 1000) state.SkipWithError("wrong count");
    benchmark::DoNotOptimize(records.data());
  }
}

// --- Add and delete at the end of a chain of 10,000 file sets -------------

constexpr int32_t kChainLength = 10000;

void AddDeleteFileSet(benchmark::State& state) {
  Region region(1, kChainLength);
  if (!region.ok()) return state.SkipWithError("no region");
  for (auto _ : state) {
    uint16_t number = 0, slot = 0;
    AddKestiHistAdminOneFileSet(1, &number, &slot);
    if (DeleteKestiHistAdminOneFileSetForOneRepository(1, number) != KHA_OK) {
      state.SkipWithError("delete failed");
    }
  }
}

void AddDeleteFileSetFloor(benchmark::State& state) {
  Region region(1, kChainLength);
  if (!region.ok()) return state.SkipWithError("no region");
  KestiHistAdminRegionHeader* header = kha::HistAdminHeader();
  std::byte* view = View();
  KestiHistAdminRepository* owner = Repository(view, header->RegionSize, 1);
  auto file_set = [&](int32_t k) { return FileSet(view, k); };
  for (auto _ : state) {
    // The add: lowest free slot (or a new one), flush, append, flush.
    int32_t slot = 0;
    for (int32_t k = 1; k <= header->FSHighWater && slot == 0; ++k) {
      if (file_set(k)->SlotUsage == 0) slot = k;
    }
    if (slot == 0) {
      slot = header->FSHighWater + 1;
      file_set(slot)->SlotUsage = 0;
      file_set(slot)->Index = static_cast<int16_t>(slot);
      header->FSHighWater = static_cast<int16_t>(slot);
    }
    kha::FlushHistAdminView();
    KestiHistAdminFileSet* added = file_set(slot);
    ++header->NumberFileSets;
    added->RecordStatus = 1;
    added->SlotUsage = 1;
    added->Index = static_cast<int16_t>(slot);
    added->ReposIndex = 1;
    added->NextIndex = 0;
    ++owner->NumberFS;
    file_set(owner->LastFS)->NextIndex = static_cast<int16_t>(slot);
    owner->LastFS = static_cast<int16_t>(slot);
    kha::FlushHistAdminView();
    // The delete of the last: walk to it, unlink, free, flush.
    const int32_t doomed = owner->NumberFS;
    int32_t previous = 0;
    int32_t current = owner->FirstFS;
    for (int32_t position = 1; position < doomed; ++position) {
      previous = current;
      current = file_set(current)->NextIndex;
    }
    owner->LastFS = static_cast<int16_t>(previous);
    file_set(previous)->NextIndex = 0;
    KestiHistAdminFileSet* freed = file_set(current);
    freed->SlotUsage = 0;
    freed->Index = freed->ReposIndex = freed->NextIndex = 0;
    --header->NumberFileSets;
    --owner->NumberFS;
    kha::FlushHistAdminView();
  }
}

BENCHMARK(SearchByName)->Arg(100)->Arg(1000)->Arg(32767);
BENCHMARK(SearchByNameFloor)->Arg(100)->Arg(1000)->Arg(32767);
BENCHMARK(AddDeleteRepository);
BENCHMARK(AddDeleteRepositoryFloor);
BENCHMARK(ListRepositories);
BENCHMARK(ListRepositoriesFloor);
BENCHMARK(AddDeleteFileSet);
BENCHMARK(AddDeleteFileSetFloor);

}  // namespace

int main(int argc, char** argv) {
  // A region of our own, never the machine's real one.
  const std::string prefix = "khabench" + std::to_string(getpid()) + "_";
#if defined(_WIN32)
  _putenv_s(kha::platform::kNamePrefixVariable, prefix.c_str());
#else
  setenv(kha::platform::kNamePrefixVariable, prefix.c_str(), 1);
#endif
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
