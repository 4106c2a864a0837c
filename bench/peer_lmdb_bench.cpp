// LMDB doing what a user would ask of it in the library's place: one
// environment in /dev/shm holding the same records, keyed by the name in
// small letters (the comparison ignores case). A find is a read
// transaction (renewed, as LMDB advises for repeated reads), mdb_get and
// the copy of the value; a change is mdb_put in a write transaction of
// its own, committed with LMDB's default durability.
#include <benchmark/benchmark.h>
#include <lmdb.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "bench/bench_records.h"

namespace kha::bench {
namespace {

void Check(int rc, const char* what) {
  if (rc != 0) {
    std::fprintf(stderr, "%s: %s\n", what, mdb_strerror(rc));
    std::abort();
  }
}

class LmdbTable {
 public:
  explicit LmdbTable(int count)
      : directory_("/dev/shm/kha_bench_lmdb_" + std::to_string(::getpid()) + "_" +
                   std::to_string(count)) {
    std::filesystem::create_directories(directory_);
    Check(mdb_env_create(&env_), "mdb_env_create");
    Check(mdb_env_set_mapsize(env_, 256u << 20), "mdb_env_set_mapsize");
    Check(mdb_env_open(env_, directory_.c_str(), MDB_NOTLS, 0600), "mdb_env_open");
    MDB_txn* txn = nullptr;
    Check(mdb_txn_begin(env_, nullptr, 0, &txn), "mdb_txn_begin");
    Check(mdb_dbi_open(txn, nullptr, 0, &dbi_), "mdb_dbi_open");
    for (int k = 1; k <= count; ++k) {
      const std::string key = FoldedName(RepositoryName(k));
      KestiHistAdminRepository record = RepositoryValue(k);
      MDB_val key_value{key.size(), const_cast<char*>(key.data())};
      MDB_val data{sizeof record, &record};
      Check(mdb_put(txn, dbi_, &key_value, &data, 0), "mdb_put");
    }
    Check(mdb_txn_commit(txn), "mdb_txn_commit");
    Check(mdb_txn_begin(env_, nullptr, MDB_RDONLY, &reader_), "mdb_txn_begin");
    mdb_txn_reset(reader_);
  }
  ~LmdbTable() {
    mdb_txn_abort(reader_);
    mdb_env_close(env_);
    std::filesystem::remove_all(directory_);
  }
  LmdbTable(const LmdbTable&) = delete;
  LmdbTable& operator=(const LmdbTable&) = delete;

  bool Find(const std::string& name, KestiHistAdminRepository* out) {
    const std::string key = FoldedName(name);
    MDB_val key_value{key.size(), const_cast<char*>(key.data())};
    MDB_val data;
    Check(mdb_txn_renew(reader_), "mdb_txn_renew");
    const int rc = mdb_get(reader_, dbi_, &key_value, &data);
    if (rc == 0) std::memcpy(out, data.mv_data, sizeof *out);
    mdb_txn_reset(reader_);
    return rc == 0;
  }

  void Change(const std::string& name, const KestiHistAdminRepository& record) {
    const std::string key = FoldedName(name);
    MDB_val key_value{key.size(), const_cast<char*>(key.data())};
    MDB_val data{sizeof record, const_cast<KestiHistAdminRepository*>(&record)};
    MDB_txn* txn = nullptr;
    Check(mdb_txn_begin(env_, nullptr, 0, &txn), "mdb_txn_begin");
    Check(mdb_put(txn, dbi_, &key_value, &data, 0), "mdb_put");
    Check(mdb_txn_commit(txn), "mdb_txn_commit");
  }

 private:
  std::string directory_;
  MDB_env* env_ = nullptr;
  MDB_dbi dbi_ = 0;
  MDB_txn* reader_ = nullptr;
};

void TableSizes(benchmark::internal::Benchmark* b) {
  b->Arg(kSmallTable)->Arg(kMediumTable)->Arg(kLargeTable);
}

void Peer_LMDB_FindByName(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  LmdbTable table(count);
  const std::string name = RepositoryNameOtherCase(count);
  KestiHistAdminRepository record;
  for (auto _ : state) {
    benchmark::DoNotOptimize(table.Find(name, &record));
    benchmark::DoNotOptimize(record);
  }
  if (record.ReposNumber != count) state.SkipWithError("LMDB found the wrong record");
}
BENCHMARK(Peer_LMDB_FindByName)->Apply(TableSizes);

void Peer_LMDB_Change(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  LmdbTable table(count);
  const std::string name = RepositoryName(1);
  KestiHistAdminRepository record = RepositoryValue(1);
  for (auto _ : state) {
    record.PendingNumberPoints++;
    table.Change(name, record);
  }
}
BENCHMARK(Peer_LMDB_Change)->Apply(TableSizes);

}  // namespace
}  // namespace kha::bench

BENCHMARK_MAIN();
