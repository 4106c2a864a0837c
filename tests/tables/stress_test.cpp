// Several processes at once on one region, and several threads of one
// process: each worker does thousands of random adds, deletes, updates,
// searches and lists of repositories and file sets through the exported
// interface, some of them grouped under one hold of the mutex. Slot
// numbers go stale as the others work, so every call may name anything;
// each answer must be one the export may give, and afterwards the verifier
// must find the tables consistent.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "kestihistadmin.h"
#include "support/child_process.h"
#include "support/region_fixture.h"
#include "tables/table_helpers.h"
#include "tools/verify/region_verifier.h"

namespace {

constexpr int kChildren = 4;
constexpr int kOperationsPerChild = 20000;

class Worker {
 public:
  Worker(unsigned seed, int id) : random_(seed), id_(id) {}

  // Returns the number of unexpected answers.
  int Run(int operations) {
    for (int i = 0; i < operations; ++i) Step();
    return unexpected_;
  }

 private:
  uint16_t HighWater(bool repositories) {
    uint16_t repos_high_water = 0, fs_high_water = 0;
    Expect(GetKestiHistAdminHeader(nullptr, &repos_high_water, nullptr, &fs_high_water, nullptr),
           {KHA_OK}, "header");
    return repositories ? repos_high_water : fs_high_water;
  }
  // Mostly a slot of the table, now and then one beyond it.
  uint16_t AnySlot(bool repositories) {
    const int high = HighWater(repositories) + 2;
    return static_cast<uint16_t>(std::uniform_int_distribution<int>(0, high)(random_));
  }
  std::string Name() {
    return "w" + std::to_string(id_) + "_" +
           std::to_string(std::uniform_int_distribution<int>(0, 40)(random_));
  }
  std::string Path() {
    return "D:\\hist\\" + std::to_string(std::uniform_int_distribution<int>(0, 60)(random_));
  }

  void Expect(int32_t result, std::initializer_list<int32_t> allowed, const char* what) {
    for (const int32_t code : allowed) {
      if (result == code) return;
    }
    ++unexpected_;
    std::fprintf(stderr, "worker %d: %s gave %d\n", id_, what, result);
  }

  void Step() {
    uint16_t a = 0, b = 0;
    switch (std::uniform_int_distribution<int>(0, 13)(random_)) {
      case 0:
      case 1: {
        const std::string name = Name();
        Expect(AddKestiHistAdminOneRepository(name.c_str(), 1 + (id_ % 3), &a, &b),
               {KHA_OK, KHA_NO_SPACE}, "add repository");
        break;
      }
      case 2:
        Expect(DeleteKestiHistAdminOneRepository(AnySlot(true)), {KHA_OK, KHA_REPOSITORY_NOT_FOUND},
               "delete repository");
        break;
      case 3: {
        KestiHistAdminRepository record{};
        const uint16_t slot = AnySlot(true);
        if (GetKestiHistAdminOneRepository(slot, &record) != KHA_OK) break;
        record.PendingQueueSize = id_;
        std::snprintf(record.PendingFilePath, sizeof record.PendingFilePath, "%s", Path().c_str());
        Expect(UpdateKestiHistAdminOneRepositoryHeader(id_ % 2, slot, &record),
               {KHA_OK, KHA_REPOSITORY_NOT_FOUND}, "update repository");
        break;
      }
      case 4:
        Expect(SearchKestiHistAdminRepositoryByName(Name().c_str(), &a, &b), {KHA_OK},
               "search by name");
        Expect(SearchKestiHistAdminRepositoryByNumber(b, &a), {KHA_OK}, "search by number");
        break;
      case 5:
      case 6:
        Expect(AddKestiHistAdminOneFileSet(AnySlot(true), &a, &b),
               {KHA_OK, KHA_NO_SPACE, KHA_REPOSITORY_NOT_FOUND}, "add file set");
        break;
      case 7:
        Expect(DeleteKestiHistAdminOneFileSetForOneRepository(
                   AnySlot(true),
                   static_cast<uint16_t>(std::uniform_int_distribution<int>(0, 4)(random_))),
               {KHA_OK, KHA_REPOSITORY_NOT_FOUND, KHA_INVALID_FILESET_NUMBER}, "delete file set");
        break;
      case 8: {
        KestiHistAdminFileSet record{};
        const uint16_t slot = AnySlot(false);
        if (GetKestiHistAdminOneFileSet(slot, &record) != KHA_OK) break;
        std::snprintf(record.FilePath, sizeof record.FilePath, "%s", Path().c_str());
        record.RecordStatus = std::uniform_int_distribution<int>(0, 3)(random_);
        record.StartTime.Seconds = id_;
        Expect(UpdateKestiHistAdminOneFileSet(id_ % 2, 0, slot, &record),
               {KHA_OK, KHA_INVALID_FILESET_NUMBER}, "update file set");
        break;
      }
      case 9:
        Expect(CheckKestiHistAdminAllFileSetsForAFilePath(AnySlot(true), AnySlot(false),
                                                          Path().c_str(), &a, &b),
               {KHA_OK, KHA_REPOSITORY_NOT_FOUND, KHA_FILE_PATH_IN_USE}, "path check");
        break;
      case 10: {
        std::vector<KestiHistAdminFileSet> records(4);
        const int16_t capacity = 4;
        Expect(GetKestiHistAdminAllFileSetsForOneRepository(AnySlot(true), &capacity,
                                                            records.data(), &a),
               {KHA_OK, KHA_REPOSITORY_NOT_FOUND, KHA_BUFFER_TOO_SMALL}, "list file sets");
        (void)RepositoryHasOneActiveFileSet(AnySlot(true));
        (void)GetKestiHistAdminCurrentFileSetForOneRepository(AnySlot(true));
        break;
      }
      case 11: {
        std::vector<KestiHistAdminRepository> records(16);
        const int16_t capacity = 16;
        Expect(GetKestiHistAdminAllRepositories(&capacity, records.data(), &a),
               {KHA_OK, KHA_BUFFER_TOO_SMALL}, "list repositories");
        (void)GetKestiHistAdminNumberOfRepositoriesToSave();
        break;
      }
      case 12:
        Expect(DeleteKestiHistAdminAllFileSetForOneRepository(AnySlot(true)),
               {KHA_OK, KHA_REPOSITORY_NOT_FOUND}, "release file sets");
        break;
      default: {
        // A group under one hold: find by name, then grow or drop it.
        LockHistAdminMutex();
        const std::string name = Name();
        Expect(SearchKestiHistAdminRepositoryByName(name.c_str(), &a, &b), {KHA_OK},
               "group search");
        if (a != 0 && (b & 1) != 0) {
          Expect(DeleteKestiHistAdminOneRepository(a), {KHA_OK}, "group delete");
        } else if (a != 0) {
          uint16_t number = 0, slot = 0;
          Expect(AddKestiHistAdminOneFileSet(a, &number, &slot), {KHA_OK, KHA_NO_SPACE},
                 "group add file set");
          if (slot != 0) {
            uint16_t found = 0;
            Expect(SearchKestiHistAdminFileSetByNumber(b, number, &found), {KHA_OK}, "group find");
            if (found != slot) Expect(-1, {}, "group find gave another slot");
          }
        }
        UnlockHistAdminMutex();
        break;
      }
    }
  }

  std::mt19937 random_;
  int id_;
  int unexpected_ = 0;
};

int StressRole(const std::vector<std::string>& args) {
  if (args.size() != 2) return 2;
  if (AttachToKestiHistAdminSharedMemory() != KHA_OK) return 3;
  const int id = std::stoi(args[0]);
  const int unexpected =
      Worker(static_cast<unsigned>(std::stoul(args[1])), id).Run(kOperationsPerChild);
  DetachFromKestiHistAdminSharedMemory();
  return unexpected == 0 ? 0 : 1;
}
KHA_CHILD_ROLE("table-stress", StressRole);

class TableStress : public kha::test::RegionTest {
 protected:
  // Tight enough that both tables fill up and adds meet -2022 now and then.
  uint32_t RegionSize() const override { return 200000; }
};

TEST_F(TableStress, ConcurrentProcessesLeaveConsistentTables) {
  const unsigned seed = testing::UnitTest::GetInstance()->random_seed();
  std::vector<std::unique_ptr<kha::test::Child>> children;
  for (int id = 0; id < kChildren; ++id) {
    children.push_back(std::make_unique<kha::test::Child>(
        "table-stress",
        std::vector<std::string>{std::to_string(id), std::to_string(seed * 7919u + unsigned(id))}));
  }
  for (int id = 0; id < kChildren; ++id) {
    EXPECT_EQ(children[static_cast<std::size_t>(id)]->Wait(), 0) << "child " << id;
  }
  const auto violations = kha::verify::VerifyRegion();
  for (const auto& v : violations) ADD_FAILURE() << v.message;
  const auto header = kha::test::Header();
  EXPECT_GT(header.ReposHighWater, 0);
  EXPECT_GT(header.FSHighWater, 0);
}

TEST_F(TableStress, ConcurrentThreadsOfOneProcessLeaveConsistentTables) {
  const unsigned seed = testing::UnitTest::GetInstance()->random_seed();
  std::vector<int> unexpected(kChildren, 0);
  std::vector<std::thread> threads;
  for (int id = 0; id < kChildren; ++id) {
    threads.emplace_back([&unexpected, id, seed] {
      unexpected[static_cast<std::size_t>(id)] =
          Worker(seed * 104729u + unsigned(id), id).Run(kOperationsPerChild / 4);
    });
  }
  for (auto& thread : threads) thread.join();
  for (int id = 0; id < kChildren; ++id) {
    EXPECT_EQ(unexpected[static_cast<std::size_t>(id)], 0) << "thread " << id;
  }
  const auto violations = kha::verify::VerifyRegion();
  for (const auto& v : violations) ADD_FAILURE() << v.message;
}

}  // namespace
