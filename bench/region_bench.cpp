// The cost of the region's lock around a header read and a tuning write,
// called through the shared library as a program calls them, beside a
// bare robust, recursive, process-shared pthread mutex doing the same
// copy (and flush). Both run interleaved in one benchmark, so the ratio counter
// compares them on the same machine state.
#include <benchmark/benchmark.h>
#include <pthread.h>
#include <sys/mman.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>

#include "kestihistadmin.h"

namespace {

constexpr uint32_t kRegionSize = 1000000;

// The bare comparison: a mutex with the same attributes as the region's,
// and a header and tuning block of its own, in shared memory.
struct BareRegion {
  pthread_mutex_t mutex;
  KestiHistAdminRegionHeader header;
  KestiHistAdminTuningData tuning;
};

BareRegion* MakeBareRegion() {
  void* memory =
      mmap(nullptr, sizeof(BareRegion), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED) std::abort();
  auto* bare = static_cast<BareRegion*>(memory);
  pthread_mutexattr_t attributes;
  pthread_mutexattr_init(&attributes);
  pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED);
  pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST);
  pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(&bare->mutex, &attributes);
  pthread_mutexattr_destroy(&attributes);
  bare->header.RegionSize = kRegionSize;
  return bare;
}

BareRegion* Bare() {
  static BareRegion* bare = MakeBareRegion();
  return bare;
}

// Runs `library` and `bare` in alternating batches and reports the time
// of one of each and their ratio.
template <typename Library, typename BareOp>
void CompareWithBare(benchmark::State& state, Library library, BareOp bare) {
  using Clock = std::chrono::steady_clock;
  constexpr int kBatch = 512;
  Clock::duration library_time{}, bare_time{};
  int64_t operations = 0;
  bool library_first = true;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    for (int i = 0; i < kBatch; ++i) library_first ? library() : bare();
    const auto t1 = Clock::now();
    for (int i = 0; i < kBatch; ++i) library_first ? bare() : library();
    const auto t2 = Clock::now();
    library_time += library_first ? t1 - t0 : t2 - t1;
    bare_time += library_first ? t2 - t1 : t1 - t0;
    library_first = !library_first;
    operations += kBatch;
  }
  const double library_ns = std::chrono::duration<double, std::nano>(library_time).count() /
                            static_cast<double>(operations);
  const double bare_ns =
      std::chrono::duration<double, std::nano>(bare_time).count() / static_cast<double>(operations);
  state.counters["library_ns"] = library_ns;
  state.counters["bare_ns"] = bare_ns;
  state.counters["ratio"] = bare_ns > 0 ? library_ns / bare_ns : 0;
  state.SetItemsProcessed(operations * 2);
}

// Lock, read the whole header, unlock: as a caller grouping its reads.
void BM_LockedHeaderRead(benchmark::State& state) {
  uint32_t size = 0;
  uint16_t repos_high_water = 0, repos = 0, fs_high_water = 0, file_sets = 0;
  BareRegion* bare = Bare();
  CompareWithBare(
      state,
      [&] {
        LockHistAdminMutex();
        GetKestiHistAdminHeader(&size, &repos_high_water, &repos, &fs_high_water, &file_sets);
        UnlockHistAdminMutex();
        benchmark::DoNotOptimize(size);
        benchmark::DoNotOptimize(file_sets);
      },
      [&] {
        pthread_mutex_lock(&bare->mutex);
        size = bare->header.RegionSize;
        repos_high_water = static_cast<uint16_t>(bare->header.ReposHighWater);
        repos = bare->header.NumberRepos;
        fs_high_water = static_cast<uint16_t>(bare->header.FSHighWater);
        file_sets = bare->header.NumberFileSets;
        pthread_mutex_unlock(&bare->mutex);
        benchmark::DoNotOptimize(size);
        benchmark::DoNotOptimize(file_sets);
      });
}
BENCHMARK(BM_LockedHeaderRead);

// The header read alone (it takes the lock itself).
void BM_HeaderRead(benchmark::State& state) {
  uint32_t size = 0;
  uint16_t repos_high_water = 0, repos = 0, fs_high_water = 0, file_sets = 0;
  BareRegion* bare = Bare();
  CompareWithBare(
      state,
      [&] {
        GetKestiHistAdminHeader(&size, &repos_high_water, &repos, &fs_high_water, &file_sets);
        benchmark::DoNotOptimize(size);
        benchmark::DoNotOptimize(file_sets);
      },
      [&] {
        pthread_mutex_lock(&bare->mutex);
        size = bare->header.RegionSize;
        repos_high_water = static_cast<uint16_t>(bare->header.ReposHighWater);
        repos = bare->header.NumberRepos;
        fs_high_water = static_cast<uint16_t>(bare->header.FSHighWater);
        file_sets = bare->header.NumberFileSets;
        pthread_mutex_unlock(&bare->mutex);
        benchmark::DoNotOptimize(size);
        benchmark::DoNotOptimize(file_sets);
      });
}
BENCHMARK(BM_HeaderRead);

// Lock, copy the 680-byte tuning block in, flush the view, unlock; the
// bare one flushes its own mapping.
void BM_TuningWrite(benchmark::State& state) {
  KestiHistAdminTuningData tuning{};
  tuning.TuningValue1 = 7;
  BareRegion* bare = Bare();
  CompareWithBare(
      state, [&] { benchmark::DoNotOptimize(PutKestiHistAdminTuningData(&tuning)); },
      [&] {
        pthread_mutex_lock(&bare->mutex);
        std::memcpy(&bare->tuning, &tuning, sizeof tuning);
        msync(bare, sizeof(BareRegion), MS_ASYNC);
        pthread_mutex_unlock(&bare->mutex);
        benchmark::ClobberMemory();
      });
}
BENCHMARK(BM_TuningWrite);

}  // namespace

int main(int argc, char** argv) {
  // Objects of this run only, never a real region.
  const std::string prefix = "khabench" + std::to_string(getpid()) + "_";
  setenv("KESTIHISTADMIN_NAME_PREFIX", prefix.c_str(), 1);
  if (SetupAndAttachToKestiHistAdminSharedMemory(kRegionSize) != KHA_OK) return 1;
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return DetachFromKestiHistAdminSharedMemory() == KHA_OK ? 0 : 1;
}
