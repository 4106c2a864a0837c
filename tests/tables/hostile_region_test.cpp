// A region that another process left in any state: wild header values,
// wild chain fields, bad slot arguments and null pointers. Every export
// must refuse or answer within the view; run under AddressSanitizer, any
// access outside the mapped view would stop the test. The region is sized
// to end on a page boundary, so a read past its end faults at once.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "kestihistadmin.h"
#include "region/region_view.h"
#include "support/region_fixture.h"
#include "tables/table_helpers.h"

namespace {

using kha::test::AddFileSet;
using kha::test::AddRepository;
using kha::test::Header;

constexpr uint16_t kSlotArguments[] = {0,   1,   2,    3,    4,     5,      200,
                                       873, 874, 1664, 1665, 32767, 0x8000, 0xFFFF};

bool OneOf(int32_t result, std::initializer_list<int32_t> allowed) {
  for (const int32_t code : allowed) {
    if (result == code) return true;
  }
  return false;
}

// Calls every table export with every slot argument; each answer must be
// one the export may give.
void CallEveryExport() {
  std::vector<KestiHistAdminRepository> repositories(8);
  std::vector<KestiHistAdminFileSet> file_sets(8);
  const int16_t capacity = 8;
  for (const uint16_t s : kSlotArguments) {
    SCOPED_TRACE(s);
    uint16_t out1 = 0, out2 = 0;
    EXPECT_EQ(SearchKestiHistAdminRepositoryByName("r1", &out1, &out2), KHA_OK);
    EXPECT_EQ(SearchKestiHistAdminRepositoryByNumber(s, &out1), KHA_OK);
    EXPECT_TRUE(OneOf(GetKestiHistAdminOneRepository(s, repositories.data()),
                      {KHA_OK, KHA_REPOSITORY_NOT_FOUND}));
    EXPECT_TRUE(OneOf(UpdateKestiHistAdminOneRepositoryHeader(1, s, repositories.data()),
                      {KHA_OK, KHA_REPOSITORY_NOT_FOUND}));
    (void)GetKestiHistAdminNumberOfRepositoriesToSave();
    EXPECT_TRUE(OneOf(GetKestiHistAdminAllRepositories(&capacity, repositories.data(), &out1),
                      {KHA_OK, KHA_BUFFER_TOO_SMALL}));
    EXPECT_TRUE(OneOf(AddKestiHistAdminOneFileSet(s, &out1, &out2),
                      {KHA_OK, KHA_REPOSITORY_NOT_FOUND, KHA_NO_SPACE}));
    EXPECT_TRUE(OneOf(UpdateKestiHistAdminOneFileSet(0, s, s, file_sets.data()),
                      {KHA_OK, KHA_INVALID_FILESET_NUMBER}));
    EXPECT_TRUE(OneOf(GetKestiHistAdminOneFileSet(s, file_sets.data()),
                      {KHA_OK, KHA_INVALID_FILESET_NUMBER}));
    for (const uint16_t n : {uint16_t{0}, uint16_t{1}, uint16_t{3}, s}) {
      EXPECT_TRUE(OneOf(SearchKestiHistAdminFileSetByNumber(s, n, &out1),
                        {KHA_OK, KHA_REPOSITORY_NOT_FOUND, KHA_INVALID_FILESET_NUMBER}));
    }
    EXPECT_TRUE(OneOf(CheckKestiHistAdminAllFileSetsForAFilePath(s, s, "p", &out1, &out2),
                      {KHA_OK, KHA_REPOSITORY_NOT_FOUND, KHA_FILE_PATH_IN_USE}));
    EXPECT_TRUE(
        OneOf(GetKestiHistAdminAllFileSetsForOneRepository(s, &capacity, file_sets.data(), &out1),
              {KHA_OK, KHA_REPOSITORY_NOT_FOUND, KHA_BUFFER_TOO_SMALL}));
    const int32_t active = RepositoryHasOneActiveFileSet(s);
    EXPECT_TRUE(active == 0 || active == 1);
    const int16_t current = GetKestiHistAdminCurrentFileSetForOneRepository(s);
    EXPECT_GE(current, 0);
    EXPECT_TRUE(OneOf(DeleteKestiHistAdminOneFileSetForOneRepository(s, 2),
                      {KHA_OK, KHA_REPOSITORY_NOT_FOUND, KHA_INVALID_FILESET_NUMBER}));
    EXPECT_TRUE(
        OneOf(AddKestiHistAdminOneRepository("r9", 1, &out1, &out2), {KHA_OK, KHA_NO_SPACE}));
  }
  // The destructive ones last, over every slot.
  for (const uint16_t s : kSlotArguments) {
    EXPECT_TRUE(OneOf(DeleteKestiHistAdminAllFileSetForOneRepository(s),
                      {KHA_OK, KHA_REPOSITORY_NOT_FOUND}));
    EXPECT_TRUE(OneOf(DeleteKestiHistAdminOneRepository(s), {KHA_OK, KHA_REPOSITORY_NOT_FOUND}));
  }
}

class HostileRegion : public kha::test::RegionTest {
 protected:
  // 256 pages: nothing of the view lies behind RegionSize.
  uint32_t RegionSize() const override { return 1u << 20; }

  void SetUp() override {
    RegionTest::SetUp();
    for (const char* name : {"r1", "r2", "r3"}) AddRepository(name);
    for (int i = 0; i < 3; ++i) {
      AddFileSet(1);
      AddFileSet(2);
    }
  }
  KestiHistAdminRegionHeader& Raw() { return *kha::HistAdminHeader(); }
  KestiHistAdminRepository& Repo(int32_t slot) { return *kha::RepositoryRecordAt(slot); }
  KestiHistAdminFileSet& Set(int32_t slot) { return *kha::FileSetRecordAt(slot); }
};

// Headers that no region of this view can have, each on the fixture's
// fresh region. Where no repository slot lies in the view, none is found,
// read or added.
TEST_F(HostileRegion, WildHeaders) {
  const struct {
    const char* what;
    uint32_t region_size;
    int16_t repos_high_water, fs_high_water;
    bool no_repository_slot;
  } headers[] = {
      {"RegionSize beyond the view", 0xFFFFFFF0u, 3, 6, true},
      {"RegionSize below the header and tuning block", 100, 3, 6, true},
      {"RegionSize 0", 0, 3, 6, true},
      {"both tables claim the whole region", RegionSize(), 32767, 32767, false},
      {"negative high-water marks", RegionSize(), -1, -32768, true},
  };
  for (const auto& header : headers) {
    SCOPED_TRACE(header.what);
    if (&header != headers) {
      kha::test::DetachCompletely();
      SetUp();
    }
    Raw().RegionSize = header.region_size;
    Raw().ReposHighWater = header.repos_high_water;
    Raw().FSHighWater = header.fs_high_water;
    if (header.no_repository_slot) {
      KestiHistAdminRepository record;
      EXPECT_EQ(GetKestiHistAdminOneRepository(1, &record), KHA_REPOSITORY_NOT_FOUND);
      uint16_t slot = 9, number = 9;
      EXPECT_EQ(SearchKestiHistAdminRepositoryByName("r1", &slot, &number), KHA_OK);
      EXPECT_EQ(slot, 0);
      EXPECT_EQ(AddKestiHistAdminOneRepository("x", 1, &slot, &number), KHA_NO_SPACE);
      EXPECT_EQ(GetKestiHistAdminNumberOfRepositoriesToSave(), 0);
    }
    CallEveryExport();
  }
}

TEST_F(HostileRegion, WildChainFields) {
  Repo(1).FirstFS = -3;
  Repo(1).LastFS = 32767;
  Repo(1).NumberFS = 32767;
  Repo(2).FirstFS = 30000;
  Repo(2).NumberFS = -32768;
  Repo(3).FirstFS = 5;  // another repository's file set
  Repo(3).LastFS = -1;
  Repo(3).NumberFS = 2;
  Set(1).NextIndex = 0x7FFF;
  CallEveryExport();
}

TEST_F(HostileRegion, ChainsThatLoop) {
  Set(3).NextIndex = 1;  // repository 1: 1 -> 3 -> 5 -> 1 ...
  Set(5).NextIndex = 1;
  Repo(1).NumberFS = 32767;
  Set(4).NextIndex = 4;  // repository 2: 2 -> 4 -> 4 ...
  Repo(2).NumberFS = 100;
  int16_t capacity = 3;
  uint16_t count = 0;
  std::vector<KestiHistAdminFileSet> records(3);
  EXPECT_EQ(GetKestiHistAdminAllFileSetsForOneRepository(1, &capacity, records.data(), &count),
            KHA_BUFFER_TOO_SMALL);
  EXPECT_EQ(count, 32767);
  EXPECT_EQ(DeleteKestiHistAdminOneFileSetForOneRepository(1, 200), KHA_OK);
  EXPECT_EQ(DeleteKestiHistAdminAllFileSetForOneRepository(2), KHA_OK);
  CallEveryExport();
}

TEST_F(HostileRegion, CountsNeverWrap) {
  Raw().NumberRepos = 0;
  Raw().NumberFileSets = 0;
  ASSERT_EQ(DeleteKestiHistAdminOneRepository(1), KHA_OK);
  ASSERT_EQ(DeleteKestiHistAdminOneFileSetForOneRepository(2, 1), KHA_OK);
  EXPECT_EQ(Header().NumberRepos, 0);
  EXPECT_EQ(Header().NumberFileSets, 0);
  Raw().NumberRepos = 0xFFFF;
  Raw().NumberFileSets = 0xFFFF;
  AddRepository("more");
  AddFileSet(2);
  EXPECT_EQ(Header().NumberRepos, 0xFFFF);
  EXPECT_EQ(Header().NumberFileSets, 0xFFFF);
  Repo(2).NumberFS = 32767;
  const auto added = AddFileSet(2);
  EXPECT_EQ(added.number, 32767);
  EXPECT_EQ(Repo(2).NumberFS, 32767);
}

TEST_F(HostileRegion, ChainAndIndexFieldsAreNotTrusted) {
  // An add never follows a wild LastFS.
  Repo(3).FirstFS = 4;
  Repo(3).LastFS = 12345;
  Repo(3).NumberFS = 1;
  const auto added = AddFileSet(3);
  EXPECT_EQ(Repo(3).LastFS, added.slot);
  EXPECT_EQ(Repo(3).NumberFS, 2);

  Repo(2).Index = 3;
  Set(2).Index = 6;
  uint16_t slot = 0, number = 0;
  ASSERT_EQ(SearchKestiHistAdminRepositoryByName("r2", &slot, &number), KHA_OK);
  EXPECT_EQ(slot, 2);  // where the record lies
  // Deleting the last of repository 2's chain links LastFS to the slot
  // visited before it, not to that record's Index.
  ASSERT_EQ(DeleteKestiHistAdminOneFileSetForOneRepository(2, 3), KHA_OK);
  EXPECT_EQ(Repo(2).LastFS, 4);
  ASSERT_EQ(DeleteKestiHistAdminOneFileSetForOneRepository(2, 2), KHA_OK);
  EXPECT_EQ(Repo(2).LastFS, 2);
  EXPECT_EQ(Set(2).NextIndex, 0);

  // Deleting the only file set empties the chain whatever its NextIndex.
  Set(2).NextIndex = 1;  // repository 1's first file set
  ASSERT_EQ(DeleteKestiHistAdminOneFileSetForOneRepository(2, 1), KHA_OK);
  EXPECT_EQ(Repo(2).NumberFS, 0);
  EXPECT_EQ(Repo(2).FirstFS, 0);
  EXPECT_EQ(Repo(2).LastFS, 0);
  CallEveryExport();
}

TEST_F(HostileRegion, NullPointersAreRefused) {
  EXPECT_EQ(SearchKestiHistAdminRepositoryByName(nullptr, nullptr, nullptr), KHA_INVALID_POINTER);
  uint16_t out = 7;
  EXPECT_EQ(SearchKestiHistAdminRepositoryByName("r1", &out, nullptr), KHA_INVALID_POINTER);
  EXPECT_EQ(out, 7);
  EXPECT_EQ(SearchKestiHistAdminRepositoryByNumber(1, nullptr), KHA_INVALID_POINTER);
  EXPECT_EQ(GetKestiHistAdminOneRepository(1, nullptr), KHA_INVALID_POINTER);
  EXPECT_EQ(AddKestiHistAdminOneRepository(nullptr, 1, &out, &out), KHA_INVALID_POINTER);
  EXPECT_EQ(AddKestiHistAdminOneRepository("x", 1, nullptr, &out), KHA_INVALID_POINTER);
  EXPECT_EQ(UpdateKestiHistAdminOneRepositoryHeader(0, 1, nullptr), KHA_INVALID_POINTER);
  const int16_t capacity = 2;
  EXPECT_EQ(GetKestiHistAdminAllRepositories(nullptr, nullptr, &out), KHA_INVALID_POINTER);
  EXPECT_EQ(GetKestiHistAdminAllRepositories(&capacity, nullptr, &out), KHA_INVALID_POINTER);
  EXPECT_EQ(GetKestiHistAdminAllRepositories(&capacity, &out, nullptr), KHA_INVALID_POINTER);
  EXPECT_EQ(AddKestiHistAdminOneFileSet(1, nullptr, &out), KHA_INVALID_POINTER);
  EXPECT_EQ(UpdateKestiHistAdminOneFileSet(0, 1, 1, nullptr), KHA_INVALID_POINTER);
  EXPECT_EQ(GetKestiHistAdminOneFileSet(1, nullptr), KHA_INVALID_POINTER);
  EXPECT_EQ(SearchKestiHistAdminFileSetByNumber(1, 1, nullptr), KHA_INVALID_POINTER);
  EXPECT_EQ(GetKestiHistAdminAllFileSetsForOneRepository(1, &capacity, nullptr, &out),
            KHA_INVALID_POINTER);
  EXPECT_EQ(GetKestiHistAdminAllFileSetsForOneRepository(1, nullptr, &out, &out),
            KHA_INVALID_POINTER);
  // Repository 3 has no file sets: the path check refuses all the same.
  uint16_t kept = 5;
  EXPECT_EQ(CheckKestiHistAdminAllFileSetsForAFilePath(3, 0, "x", nullptr, &kept),
            KHA_INVALID_POINTER);
  EXPECT_EQ(CheckKestiHistAdminAllFileSetsForAFilePath(3, 0, "x", &kept, nullptr),
            KHA_INVALID_POINTER);
  EXPECT_EQ(kept, 5);  // not written
  EXPECT_EQ(CheckKestiHistAdminAllFileSetsForAFilePath(3, 0, nullptr, &kept, &kept),
            KHA_INVALID_POINTER);
  const auto header = Header();
  EXPECT_EQ(header.NumberRepos, 3);
  EXPECT_EQ(header.NumberFileSets, 6);
}

TEST_F(HostileRegion, BadSlotsAreRefusedAndTouchNothing) {
  ASSERT_EQ(DeleteKestiHistAdminOneRepository(3), KHA_OK);
  const auto before = Header();
  uint16_t number = 9, fs_slot = 9;  // a free repository slot takes no file set
  EXPECT_EQ(AddKestiHistAdminOneFileSet(3, &number, &fs_slot), KHA_REPOSITORY_NOT_FOUND);
  EXPECT_EQ(number, 0);
  EXPECT_EQ(fs_slot, 0);
  KestiHistAdminRepository repository;
  std::memset(&repository, 0x5A, sizeof repository);
  for (const uint16_t s : {uint16_t{0}, uint16_t{4}, uint16_t{0x8000}, uint16_t{0xFFFF}}) {
    EXPECT_EQ(GetKestiHistAdminOneRepository(s, &repository), KHA_REPOSITORY_NOT_FOUND);
    EXPECT_EQ(UpdateKestiHistAdminOneRepositoryHeader(0, s, &repository), KHA_REPOSITORY_NOT_FOUND);
    EXPECT_EQ(DeleteKestiHistAdminOneRepository(s), KHA_REPOSITORY_NOT_FOUND);
    EXPECT_EQ(DeleteKestiHistAdminAllFileSetForOneRepository(s), KHA_REPOSITORY_NOT_FOUND);
    uint16_t a = 0, b = 0;
    EXPECT_EQ(AddKestiHistAdminOneFileSet(s, &a, &b), KHA_REPOSITORY_NOT_FOUND);
    EXPECT_EQ(DeleteKestiHistAdminOneFileSetForOneRepository(s, 1), KHA_REPOSITORY_NOT_FOUND);
    EXPECT_EQ(RepositoryHasOneActiveFileSet(s), 0);
    EXPECT_EQ(GetKestiHistAdminCurrentFileSetForOneRepository(s), 0);
  }
  EXPECT_EQ(repository.Status, 0x5A5A5A5A);  // never written
  KestiHistAdminFileSet file_set;
  std::memset(&file_set, 0x5A, sizeof file_set);
  for (const uint16_t s : {uint16_t{0}, uint16_t{7}, uint16_t{0x8000}, uint16_t{0xFFFF}}) {
    EXPECT_EQ(GetKestiHistAdminOneFileSet(s, &file_set), KHA_INVALID_FILESET_NUMBER);
    EXPECT_EQ(UpdateKestiHistAdminOneFileSet(0, 1, s, &file_set), KHA_INVALID_FILESET_NUMBER);
  }
  EXPECT_EQ(file_set.SlotUsage, 0x5A5A5A5A);
  const auto after = Header();
  EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0);
}

// Without a region every operation with a result code reports -2004 and
// touches nothing; counts and flags are 0, and the lock does nothing.
TEST(NotAttached, EveryExportRefusesAndWritesNothing) {
  uint16_t a = 7, b = 7;
  const int16_t capacity = 1;
  KestiHistAdminRepository repository;
  KestiHistAdminFileSet file_set;
  KestiHistAdminTuningData tuning;
  std::memset(&repository, 0x5A, sizeof repository);
  std::memset(&file_set, 0x5A, sizeof file_set);
  std::memset(&tuning, 0x5A, sizeof tuning);
  LockHistAdminMutex();
  UnlockHistAdminMutex();
  EXPECT_EQ(GetKestiHistAdminTuningData(&tuning), KHA_NOT_MAPPED);
  EXPECT_EQ(PutKestiHistAdminTuningData(&tuning), KHA_NOT_MAPPED);
  EXPECT_EQ(PutKestiHistAdminHeader(1000, 0, 0, 0, 0), KHA_NOT_MAPPED);
  EXPECT_EQ(tuning.TuningValues14To40[26], 0x5A5A5A5A);
  EXPECT_EQ(SearchKestiHistAdminRepositoryByName("x", &a, &b), KHA_NOT_MAPPED);
  EXPECT_EQ(SearchKestiHistAdminRepositoryByNumber(1, &a), KHA_NOT_MAPPED);
  EXPECT_EQ(GetKestiHistAdminOneRepository(1, &repository), KHA_NOT_MAPPED);
  EXPECT_EQ(AddKestiHistAdminOneRepository("x", 1, &a, &b), KHA_NOT_MAPPED);
  EXPECT_EQ(UpdateKestiHistAdminOneRepositoryHeader(0, 1, &repository), KHA_NOT_MAPPED);
  EXPECT_EQ(DeleteKestiHistAdminOneRepository(1), KHA_NOT_MAPPED);
  EXPECT_EQ(GetKestiHistAdminNumberOfRepositoriesToSave(), 0);
  EXPECT_EQ(GetKestiHistAdminAllRepositories(&capacity, &repository, &a), KHA_NOT_MAPPED);
  EXPECT_EQ(DeleteKestiHistAdminAllFileSetForOneRepository(1), KHA_NOT_MAPPED);
  EXPECT_EQ(AddKestiHistAdminOneFileSet(1, &a, &b), KHA_NOT_MAPPED);
  EXPECT_EQ(UpdateKestiHistAdminOneFileSet(0, 1, 1, &file_set), KHA_NOT_MAPPED);
  EXPECT_EQ(GetKestiHistAdminOneFileSet(1, &file_set), KHA_NOT_MAPPED);
  EXPECT_EQ(SearchKestiHistAdminFileSetByNumber(1, 1, &a), KHA_NOT_MAPPED);
  EXPECT_EQ(DeleteKestiHistAdminOneFileSetForOneRepository(1, 1), KHA_NOT_MAPPED);
  EXPECT_EQ(CheckKestiHistAdminAllFileSetsForAFilePath(1, 0, "p", &a, &b), KHA_NOT_MAPPED);
  EXPECT_EQ(GetKestiHistAdminAllFileSetsForOneRepository(1, &capacity, &file_set, &a),
            KHA_NOT_MAPPED);
  EXPECT_EQ(RepositoryHasOneActiveFileSet(1), 0);
  EXPECT_EQ(GetKestiHistAdminCurrentFileSetForOneRepository(1), 0);
  EXPECT_EQ(a, 7);
  EXPECT_EQ(b, 7);
  EXPECT_EQ(repository.Status, 0x5A5A5A5A);
  EXPECT_EQ(file_set.SlotUsage, 0x5A5A5A5A);
}

}  // namespace
