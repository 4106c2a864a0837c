// Failed flushes: every writing operation is run with its first, second,
// ... flush failing until it gets through. Each failure must report the
// flush's code and leave a region whose tables are consistent, in the
// state the operation promises for that failure.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "kestihistadmin.h"
#include "support/fault_sweep.h"
#include "support/region_fixture.h"
#include "tables/table_helpers.h"

namespace {

using kha::platform::Call;
using kha::test::AddFileSet;
using kha::test::AddRepository;
using kha::test::Header;
using kha::test::Repository;

class FlushFailures : public kha::test::RegionTest {
 protected:
  void SetUp() override {
    RegionTest::SetUp();
    faults_ = std::make_unique<kha::test::ScopedFaultPlatform>();
    repository_ = AddRepository("base").slot;
    AddFileSet(repository_);
    AddFileSet(repository_);
  }
  void TearDown() override {
    faults_.reset();
    RegionTest::TearDown();
  }

  // Runs prepare() unharmed, then act() with its nth flush failing, for
  // n = 1, 2, ... until act() meets no failure. `check(n)` runs after each
  // failure, which must leave the flush's OS error for the caller. Returns
  // the number of failed runs.
  int Sweep(
      std::function<void()> prepare, std::function<int32_t()> act,
      std::function<void(int)> check = [](int) {}) {
    return static_cast<int>(
        kha::test::RunFaultSweep(*faults_, {.call = Call::kFlushView,
                                            .promised = {KHA_FLUSH_VIEW_FAILED},
                                            .prepare = std::move(prepare),
                                            .operation = std::move(act),
                                            .after =
                                                [&](int n, int32_t, bool met) {
                                                  if (!met) return;
                                                  kha::test::ExpectConsistentTables();
                                                  check(n);
                                                },
                                            .limit = 20,
                                            .leaves_os_error = true})
            .size());
  }

  std::unique_ptr<kha::test::ScopedFaultPlatform> faults_;
  uint16_t repository_ = 0;
};

TEST_F(FlushFailures, AddRepository) {
  uint16_t slot = 0, number = 0;
  const int failures = Sweep([] {},
                             [&] {
                               slot = 77;
                               number = 77;
                               return AddKestiHistAdminOneRepository("new", 1, &slot, &number);
                             },
                             [&](int n) {
                               if (n == 1) {  // in the slot search: nothing added
                                 EXPECT_EQ(slot, 0);
                                 EXPECT_EQ(number, 77);
                                 EXPECT_EQ(Header().NumberRepos, 1);
                                 EXPECT_EQ(Header().ReposHighWater, 2);  // carved out, free
                                 EXPECT_EQ(Repository(2).SlotUsage, 0);
                                 EXPECT_EQ(Repository(2).Index, 2);
                               } else {  // the final flush: the repository stays
                                 EXPECT_EQ(slot, 2);
                                 EXPECT_EQ(Repository(slot).SlotUsage, 1);
                               }
                             });
  EXPECT_EQ(failures, 2);
}

TEST_F(FlushFailures, DeleteRepository) {
  uint16_t doomed = 0;
  const int failures = Sweep(
      [&] {
        doomed = AddRepository("doomed").slot;
        AddFileSet(doomed);
      },
      [&] { return DeleteKestiHistAdminOneRepository(doomed); },
      [&](int n) {
        const KestiHistAdminRepository record = Repository(doomed);
        EXPECT_EQ(record.NumberFS, 0);
        EXPECT_EQ(record.SlotUsage, n == 1 ? 1 : 0);  // first failure: stays with an empty chain
      });
  EXPECT_EQ(failures, 2);
}

TEST_F(FlushFailures, OneFlushOperations) {
  KestiHistAdminRepository repository = Repository(repository_);
  KestiHistAdminFileSet file_set = kha::test::FileSet(1);
  EXPECT_EQ(
      Sweep([] {},
            [&] { return UpdateKestiHistAdminOneRepositoryHeader(0, repository_, &repository); }),
      1);
  EXPECT_EQ(Sweep([] {}, [&] { return UpdateKestiHistAdminOneFileSet(1, 0, 1, &file_set); }), 1);
  EXPECT_EQ(Sweep([&] { AddFileSet(repository_); },
                  [&] { return DeleteKestiHistAdminOneFileSetForOneRepository(repository_, 1); }),
            1);
  EXPECT_EQ(Sweep([&] { AddFileSet(repository_); },
                  [&] { return DeleteKestiHistAdminAllFileSetForOneRepository(repository_); }),
            1);
}

TEST_F(FlushFailures, AddFileSet) {
  uint16_t number = 0, slot = 0;
  const int failures =
      Sweep([] {}, [&] { return AddKestiHistAdminOneFileSet(repository_, &number, &slot); },
            [&](int n) {
              if (n == 1) {  // in the slot search: carved out, free
                EXPECT_EQ(slot, 0);
                EXPECT_EQ(number, 0);
                EXPECT_EQ(Header().FSHighWater, 3);
                EXPECT_EQ(kha::test::FileSet(3).SlotUsage, 0);
              } else {
                EXPECT_NE(slot, 0);
                EXPECT_EQ(Repository(repository_).LastFS, slot);
              }
            });
  EXPECT_EQ(failures, 2);
}

}  // namespace
