// Configuration transfer at scale, against the recording double of the
// historian's libraries (recording switched off): the load from the
// configuration files into an empty region (every arc a new file set),
// the same load into a region that already holds every file set (every
// arc matched by path), and the save. Counters give the time per file set;
// compare them across the doubling series to see how the cost grows.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "kestihistadmin.h"
#include "platform/platform.h"
#include "platform/testing/name_prefix.h"
#include "transfer/historian_double.h"

namespace {

using kha::historian::FileSetConfig;
using kha::historian::RepositoryConfig;
using kha::test::HistorianDouble;

std::vector<RepositoryConfig> Configuration(int repositories, int file_sets) {
  std::vector<RepositoryConfig> configuration;
  for (int r = 0; r < repositories; ++r) {
    RepositoryConfig repository;
    repository.name = "Repository" + std::to_string(r);
    repository.file_path = "D:/hist/" + repository.name;
    repository.backup_file_path = "E:/backup/" + repository.name;
    repository.global_file_set_size = 4096;
    repository.global_threshold = 0.5f;
    repository.global_time_span = 3600;
    for (int f = 0; f < file_sets; ++f) {
      FileSetConfig arc;
      arc.file_path =
          "\\\\histserver\\d$\\hist\\" + repository.name + "\\fileset" + std::to_string(f);
      arc.size = (f % 3 == 0) ? -1 : 1000;
      arc.threshold = 0.25f;
      arc.time_span = 60;
      repository.file_sets.push_back(arc);
    }
    configuration.push_back(std::move(repository));
  }
  return configuration;
}

// A region just large enough, set up afresh for one benchmark.
class Region {
 public:
  Region(int repositories, int file_sets) {
    const uint32_t size = 692u + static_cast<uint32_t>(repositories) * 1144u +
                          static_cast<uint32_t>(repositories * file_sets) * 600u + 4096u;
    ok_ = SetupAndAttachToKestiHistAdminSharedMemory(size) == KHA_OK;
    size_ = size;
  }
  ~Region() {
    while (DetachFromKestiHistAdminSharedMemory() == KHA_OK) {
    }
  }
  bool ok() const { return ok_; }
  void Empty() const { (void)PutKestiHistAdminHeader(size_, 0, 0, 0, 0); }

 private:
  bool ok_ = false;
  uint32_t size_ = 0;
};

void Prepare(benchmark::State& state, int repositories, int file_sets) {
  HistorianDouble& historian = HistorianDouble::Instance();
  historian.Reset();
  historian.record_calls = false;
  historian.files.repositories = Configuration(repositories, file_sets);
  historian.running.repositories = historian.files.repositories;
  state.counters["file_sets"] = repositories * file_sets;
  state.counters["per_file_set"] = benchmark::Counter(
      static_cast<double>(repositories * file_sets),
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_LoadFromConfigIntoEmptyRegion(benchmark::State& state) {
  const int repositories = static_cast<int>(state.range(0));
  const int file_sets = static_cast<int>(state.range(1));
  Prepare(state, repositories, file_sets);
  Region region(repositories, file_sets);
  if (!region.ok()) return state.SkipWithError("no region");
  for (auto _ : state) {
    state.PauseTiming();
    region.Empty();
    state.ResumeTiming();
    if (LoadFromConfigIntoKestiHistAdmin() != KHA_OK) return state.SkipWithError("load failed");
  }
}

void BM_LoadFromConfigMatchingEveryFileSet(benchmark::State& state) {
  const int repositories = static_cast<int>(state.range(0));
  const int file_sets = static_cast<int>(state.range(1));
  Prepare(state, repositories, file_sets);
  Region region(repositories, file_sets);
  if (!region.ok()) return state.SkipWithError("no region");
  if (LoadFromMarnIntoKestiHistAdmin() != KHA_OK) return state.SkipWithError("load failed");
  for (auto _ : state) {
    if (LoadFromConfigIntoKestiHistAdmin() != KHA_OK) return state.SkipWithError("load failed");
  }
}

void BM_SaveToConfig(benchmark::State& state) {
  const int repositories = static_cast<int>(state.range(0));
  const int file_sets = static_cast<int>(state.range(1));
  Prepare(state, repositories, file_sets);
  Region region(repositories, file_sets);
  if (!region.ok()) return state.SkipWithError("no region");
  if (LoadFromMarnIntoKestiHistAdmin() != KHA_OK) return state.SkipWithError("load failed");
  for (auto _ : state) {
    if (SaveKestiHistAdminToConfig() != KHA_OK) return state.SkipWithError("save failed");
  }
}

// 100 x 100 and 1 x 10,000, each with the series that doubles its input.
void Sizes(benchmark::internal::Benchmark* b) {
  b->Args({25, 100})->Args({50, 100})->Args({100, 100})->Args({200, 100});
  b->Args({1, 2500})->Args({1, 5000})->Args({1, 10000})->Args({1, 20000});
  // 1,000 file sets in one repository and in 100: scripts/bench compares
  // the time per file set there with that at 10,000.
  b->Args({1, 1000})->Args({100, 10});
  b->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_LoadFromConfigIntoEmptyRegion)->Apply(Sizes);
BENCHMARK(BM_LoadFromConfigMatchingEveryFileSet)->Apply(Sizes);
BENCHMARK(BM_SaveToConfig)->Apply(Sizes);

}  // namespace

int main(int argc, char** argv) {
  // Kernel objects of this process's own, never a real region.
  const std::string prefix = "khabench" + std::to_string(getpid()) + "_";
  setenv(kha::platform::kNamePrefixVariable, prefix.c_str(), 1);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
