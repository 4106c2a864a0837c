// Boost.Interprocess's named recursive mutex, the lock a user would build
// a shared table on with that library: lock and unlock, uncontended.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <boost/interprocess/sync/named_recursive_mutex.hpp>
#include <string>

namespace {

void Peer_Boost_Lock(benchmark::State& state) {
  namespace ipc = boost::interprocess;
  const std::string name = "kha_bench_boost_" + std::to_string(::getpid());
  {
    ipc::named_recursive_mutex mutex(ipc::create_only, name.c_str());
    for (auto _ : state) {
      mutex.lock();
      mutex.unlock();
    }
  }
  ipc::named_recursive_mutex::remove(name.c_str());
}
BENCHMARK(Peer_Boost_Lock);

}  // namespace

BENCHMARK_MAIN();
