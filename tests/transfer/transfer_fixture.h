// A fresh region and a reset historian double per test, with readers of
// the region's raw records and builders of scripted configurations.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "kestihistadmin.h"
#include "region/layout.h"
#include "region/region_view.h"
#include "support/region_fixture.h"
#include "tables/chain.h"
#include "transfer/historian_double.h"

namespace kha::test {

inline historian::FileSetConfig Arc(const std::string& path, int32_t size = 1000,
                                    float threshold = 0.5f, int32_t time_span = 3600) {
  historian::FileSetConfig arc;
  arc.history_status = 7;
  arc.file_path = path;
  arc.start_time = {1000, 5};
  arc.end_time = {2000, 6};
  arc.size = size;
  arc.threshold = threshold;
  arc.time_span = time_span;
  return arc;
}

inline historian::RepositoryConfig Repo(const std::string& name,
                                        std::vector<historian::FileSetConfig> file_sets = {},
                                        const std::string& path = "") {
  historian::RepositoryConfig r;
  r.name = name;
  r.file_path = path.empty() ? "D:/hist/" + name : path;
  r.backup_file_path = "E:/backup/" + name;
  r.number_points = 100;
  r.queue_size = 200;
  r.global_file_set_size = 4096;
  r.global_threshold = 0.25f;
  r.global_time_span = 86400;
  r.past_time = 11;
  r.future_time = 12;
  r.cache_size = 13;
  r.insert_size = 14;
  r.empty_file_sets = 15;
  r.file_sets = std::move(file_sets);
  return r;
}

inline historian::TuningConfig SampleTuning() {
  historian::TuningConfig tuning;
  for (std::size_t i = 0; i < tuning.values.size(); ++i) {
    tuning.values[i] = static_cast<int32_t>(1000 + i);
  }
  tuning.values[0] = 0x12345;  // only its low 16 bits are kept
  tuning.values[1] = -3;
  return tuning;
}

class TransferTest : public RegionTest {
 protected:
  void SetUp() override {
    HistorianDouble::Instance().Reset();
    RegionTest::SetUp();
  }
  void TearDown() override {
    RegionTest::TearDown();
    HistorianDouble::Instance().Reset();
  }

  HistorianDouble& historian() { return HistorianDouble::Instance(); }

  // Fills the region from the running historian's configuration and
  // forgets the calls that made it.
  void LoadRunning(std::vector<historian::RepositoryConfig> repositories) {
    historian().running.repositories = std::move(repositories);
    ASSERT_EQ(LoadFromMarnIntoKestiHistAdmin(), KHA_OK);
    historian().calls.clear();
  }

  struct FailingCall {
    const char* function;
    int32_t code;
  };
  // Makes each function fail at its next call in turn: `operation` must
  // return the function's code and leave every byte of the region as it was.
  void ExpectFailuresLeaveTheRegion(int32_t (*operation)(), std::vector<FailingCall> failures) {
    const std::vector<std::byte> before = RegionViewBytes();
    for (const FailingCall& failure : failures) {
      SCOPED_TRACE(failure.function);
      historian().FailNth(failure.function, 1);
      EXPECT_EQ(operation(), failure.code);
      EXPECT_TRUE(before == RegionViewBytes());
    }
  }

  // Copies of the region's raw records (they may be unaligned in the view).
  template <typename Record>
  static Record Copy(const void* at) {
    Record record{};
    std::memcpy(&record, at, sizeof(record));
    return record;
  }
  static RegionHeader Header() { return Copy<RegionHeader>(HistAdminHeader()); }
  static TuningData Tuning() { return Copy<TuningData>(HistAdminTuning()); }
  static RepositoryRecord RepositoryAt(int slot) {
    return Copy<RepositoryRecord>(RepositoryRecordAt(slot));
  }
  static FileSetRecord FileSetAt(int slot) { return Copy<FileSetRecord>(FileSetRecordAt(slot)); }
  // The slot of the file set at `position` (1-based) of a repository's chain.
  static int16_t FileSetSlot(int repository_slot, int position) {
    int16_t slot = 0;
    ForEachFileSetInChain(*RepositoryRecordAt(repository_slot),
                          [&](int16_t s, const FileSetRecord&, int32_t p) {
                            if (p == position) slot = s;
                            return p < position;
                          });
    return slot;
  }
  // The file sets of a repository's chain, in order.
  static std::vector<FileSetRecord> Chain(int repository_slot) {
    std::vector<FileSetRecord> chain;
    const RepositoryRecord repository = RepositoryAt(repository_slot);
    ForEachFileSetInChain(repository, [&](int16_t, const FileSetRecord& record, int32_t) {
      chain.push_back(Copy<FileSetRecord>(&record));
      return true;
    });
    return chain;
  }
  // The RecordStatus of each file set of a repository's chain, in order.
  static std::vector<int32_t> Statuses(int repository_slot) {
    std::vector<int32_t> statuses;
    for (const FileSetRecord& f : Chain(repository_slot)) statuses.push_back(f.RecordStatus);
    return statuses;
  }
  static std::string Name(const RepositoryRecord& record) {
    return std::string(record.RepositoryName, strnlen(record.RepositoryName, 32));
  }
  static std::string Path(const char* field) { return std::string(field, strnlen(field, 256)); }
};

}  // namespace kha::test
