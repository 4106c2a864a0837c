// SQLite doing what a user would ask of it in the library's place: one
// database in /dev/shm holding the same records, in WAL mode with
// synchronous=NORMAL. A find is a prepared SELECT on a unique index that
// ignores case (NOCASE) and the copy of the record; a change is a
// prepared UPDATE by slot in a transaction of its own.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "bench/bench_records.h"

namespace kha::bench {
namespace {

class SqliteTable {
 public:
  explicit SqliteTable(int count)
      : path_("/dev/shm/kha_bench_sqlite_" + std::to_string(::getpid()) + "_" +
              std::to_string(count) + ".db") {
    Check(sqlite3_open(path_.c_str(), &db_), "open");
    Exec("PRAGMA journal_mode=WAL");
    Exec("PRAGMA synchronous=NORMAL");
    Exec(
        "CREATE TABLE repository (slot INTEGER PRIMARY KEY, "
        "name TEXT NOT NULL COLLATE NOCASE UNIQUE, record BLOB NOT NULL)");
    Exec("BEGIN");
    sqlite3_stmt* insert = Prepare("INSERT INTO repository VALUES (?1, ?2, ?3)");
    for (int k = 1; k <= count; ++k) {
      const std::string name = RepositoryName(k);
      const KestiHistAdminRepository record = RepositoryValue(k);
      sqlite3_bind_int(insert, 1, k);
      sqlite3_bind_text(insert, 2, name.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_blob(insert, 3, &record, sizeof record, SQLITE_TRANSIENT);
      Step(insert);
      sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    Exec("COMMIT");
    select_ = Prepare("SELECT slot, record FROM repository WHERE name = ?1");
    update_ = Prepare("UPDATE repository SET record = ?1 WHERE slot = ?2");
  }
  ~SqliteTable() {
    sqlite3_finalize(select_);
    sqlite3_finalize(update_);
    sqlite3_close(db_);
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
      std::filesystem::remove(path_ + suffix);
    }
  }
  SqliteTable(const SqliteTable&) = delete;
  SqliteTable& operator=(const SqliteTable&) = delete;

  int Find(const std::string& name, KestiHistAdminRepository* out) {
    sqlite3_bind_text(select_, 1, name.c_str(), static_cast<int>(name.size()), SQLITE_STATIC);
    int slot = 0;
    if (sqlite3_step(select_) == SQLITE_ROW) {
      slot = sqlite3_column_int(select_, 0);
      const void* blob = sqlite3_column_blob(select_, 1);
      if (blob != nullptr && sqlite3_column_bytes(select_, 1) == sizeof *out) {
        std::memcpy(out, blob, sizeof *out);
      }
    }
    sqlite3_reset(select_);
    return slot;
  }

  void Change(int slot, const KestiHistAdminRepository& record) {
    sqlite3_bind_blob(update_, 1, &record, sizeof record, SQLITE_STATIC);
    sqlite3_bind_int(update_, 2, slot);
    Step(update_);
    sqlite3_reset(update_);
  }

 private:
  void Check(int rc, const char* what) {
    if (rc != SQLITE_OK) {
      std::fprintf(stderr, "sqlite %s: %s\n", what, db_ ? sqlite3_errmsg(db_) : "");
      std::abort();
    }
  }
  void Exec(const char* sql) { Check(sqlite3_exec(db_, sql, nullptr, nullptr, nullptr), sql); }
  sqlite3_stmt* Prepare(const char* sql) {
    sqlite3_stmt* statement = nullptr;
    Check(sqlite3_prepare_v2(db_, sql, -1, &statement, nullptr), sql);
    return statement;
  }
  void Step(sqlite3_stmt* statement) {
    if (sqlite3_step(statement) != SQLITE_DONE) Check(SQLITE_ERROR, "step");
  }

  std::string path_;
  sqlite3* db_ = nullptr;
  sqlite3_stmt* select_ = nullptr;
  sqlite3_stmt* update_ = nullptr;
};

void TableSizes(benchmark::internal::Benchmark* b) {
  b->Arg(kSmallTable)->Arg(kMediumTable)->Arg(kLargeTable);
}

void Peer_SQLite_FindByName(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  SqliteTable table(count);
  const std::string name = RepositoryNameOtherCase(count);
  KestiHistAdminRepository record{};
  int slot = 0;
  for (auto _ : state) {
    slot = table.Find(name, &record);
    benchmark::DoNotOptimize(record);
  }
  if (slot != count) state.SkipWithError("SQLite found the wrong record");
}
BENCHMARK(Peer_SQLite_FindByName)->Apply(TableSizes);

void Peer_SQLite_Change(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  SqliteTable table(count);
  KestiHistAdminRepository record = RepositoryValue(1);
  for (auto _ : state) {
    record.PendingNumberPoints++;
    table.Change(1, record);
  }
}
BENCHMARK(Peer_SQLite_Change)->Apply(TableSizes);

}  // namespace
}  // namespace kha::bench

BENCHMARK_MAIN();
