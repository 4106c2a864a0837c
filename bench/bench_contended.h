// Two processes doing the same work at once: this benchmark process and a
// forked child. The child runs `work(1)` from the moment the timed loop
// starts until it ends; the parent runs `work(0)` once per iteration. The
// counter "pairs_per_second" is the throughput of both together,
// "child_share" the child's part of it.
#pragma once

#include <benchmark/benchmark.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>

#include "bench/bench_floor.h"

namespace kha::bench {

struct ContendedControl {
  std::atomic<int> ready{0};
  std::atomic<int> go{0};
  std::atomic<int> stop{0};
  std::atomic<uint64_t> child_pairs{0};
};

template <typename Work>
void RunContended(benchmark::State& state, Work&& work) {
  void* memory = ::mmap(nullptr, sizeof(ContendedControl), PROT_READ | PROT_WRITE,
                        MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED) Fail("mmap");
  auto* control = new (memory) ContendedControl();

  const pid_t child = ::fork();
  if (child < 0) Fail("fork");
  if (child == 0) {
    control->ready.store(1);
    while (control->go.load(std::memory_order_acquire) == 0) {
    }
    uint64_t pairs = 0;
    while (control->stop.load(std::memory_order_relaxed) == 0) {
      work(1);
      ++pairs;
    }
    control->child_pairs.store(pairs);
    ::_exit(0);
  }

  while (control->ready.load() == 0) {
  }
  control->go.store(1, std::memory_order_release);
  const auto start = std::chrono::steady_clock::now();
  uint64_t pairs = 0;
  for (auto _ : state) {
    work(0);
    ++pairs;
  }
  const auto end = std::chrono::steady_clock::now();
  control->stop.store(1);
  int status = 0;
  ::waitpid(child, &status, 0);
  const double seconds = std::chrono::duration<double>(end - start).count();
  // The child may run a little longer than the parent's timed loop; its
  // last few pairs are in the count, a bias of at most one pair per run.
  const double total = static_cast<double>(pairs + control->child_pairs.load());
  state.counters["pairs_per_second"] = seconds > 0 ? total / seconds : 0.0;
  // How the work was shared: 0.5 is an even split; near 0 or 1 one process
  // kept the mutex to itself while the other waited.
  state.counters["child_share"] =
      total > 0 ? static_cast<double>(control->child_pairs.load()) / total : 0.0;
  control->~ContendedControl();
  ::munmap(memory, sizeof(ContendedControl));
}

}  // namespace kha::bench
