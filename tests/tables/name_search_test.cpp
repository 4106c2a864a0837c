// The search by name: the scan's choice of the lowest slot in use
// wherever the name lies among the records compared together, and its
// bounds when the header claims more slots than the view holds.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "kestihistadmin.h"
#include "region/region_view.h"
#include "support/region_fixture.h"
#include "tables/table_helpers.h"

namespace {

using kha::test::AddRepository;

class NameSearch : public kha::test::RegionTest {};

TEST_F(NameSearch, LowestSlotInUseWinsWhereverItLies) {
  // 11 records: two full steps of four and a remainder of three.
  constexpr int kCount = 11;
  for (int k = 1; k <= kCount; ++k) AddRepository("Repository_" + std::to_string(100 + k));
  for (int target = 1; target <= kCount; ++target) {
    uint16_t slot = 0, number = 0;
    const std::string spelled = "rEPOSITORY_" + std::to_string(100 + target);
    ASSERT_EQ(SearchKestiHistAdminRepositoryByName(spelled.c_str(), &slot, &number), KHA_OK);
    EXPECT_EQ(slot, target);
    EXPECT_EQ(number, target);
  }

  // A twin in a later slot loses to the first; once the first is freed
  // (its name stays in the slot) the twin answers.
  KestiHistAdminRepository record = kha::test::Repository(9);
  std::memcpy(record.RepositoryName, "Repository_103", 15);
  std::memcpy(kha::RepositoryRecordAt(9)->RepositoryName, record.RepositoryName, 15);
  uint16_t slot = 0, number = 0;
  ASSERT_EQ(SearchKestiHistAdminRepositoryByName("repository_103", &slot, &number), KHA_OK);
  EXPECT_EQ(slot, 3);
  ASSERT_EQ(DeleteKestiHistAdminOneRepository(3), KHA_OK);
  ASSERT_EQ(SearchKestiHistAdminRepositoryByName("repository_103", &slot, &number), KHA_OK);
  EXPECT_EQ(slot, 9);
  EXPECT_EQ(number, 9);
  ASSERT_EQ(DeleteKestiHistAdminOneRepository(9), KHA_OK);
  ASSERT_EQ(SearchKestiHistAdminRepositoryByName("repository_103", &slot, &number), KHA_OK);
  EXPECT_EQ(slot, 0);
  EXPECT_EQ(number, 0);
  // A prefix or an extension of a stored name is another name.
  ASSERT_EQ(SearchKestiHistAdminRepositoryByName("Repository_10", &slot, &number), KHA_OK);
  EXPECT_EQ(slot, 0);
  ASSERT_EQ(SearchKestiHistAdminRepositoryByName("Repository_1011", &slot, &number), KHA_OK);
  EXPECT_EQ(slot, 0);
}

class FiveRepositoryRegion : public kha::test::RegionTest {
 protected:
  uint32_t RegionSize() const override {
    return KHA_FILESET_TABLE_OFFSET + 5 * KHA_REPOSITORY_RECORD_SIZE;
  }
};

TEST_F(FiveRepositoryRegion, HighWaterBeyondTheViewScansOnlyTheSlotsInIt) {
  for (int k = 1; k <= 5; ++k) AddRepository("r" + std::to_string(k));
  for (int16_t high_water : {int16_t{6}, int16_t{7}, int16_t{1000}, int16_t{32767}}) {
    kha::HistAdminHeader()->ReposHighWater = high_water;
    for (int k = 1; k <= 5; ++k) {
      uint16_t slot = 0, number = 0;
      ASSERT_EQ(
          SearchKestiHistAdminRepositoryByName(("R" + std::to_string(k)).c_str(), &slot, &number),
          KHA_OK);
      EXPECT_EQ(slot, k) << "high water " << high_water;
      ASSERT_EQ(SearchKestiHistAdminRepositoryByNumber(static_cast<uint16_t>(k), &slot), KHA_OK);
      EXPECT_EQ(slot, k);
    }
    uint16_t slot = 9, number = 9;
    ASSERT_EQ(SearchKestiHistAdminRepositoryByName("r6", &slot, &number), KHA_OK);
    EXPECT_EQ(slot, 0);
  }
  // A high-water mark below the slots in use hides the ones above it.
  kha::HistAdminHeader()->ReposHighWater = 2;
  uint16_t slot = 9, number = 9;
  ASSERT_EQ(SearchKestiHistAdminRepositoryByName("r3", &slot, &number), KHA_OK);
  EXPECT_EQ(slot, 0);
  kha::HistAdminHeader()->ReposHighWater = -1;
  ASSERT_EQ(SearchKestiHistAdminRepositoryByName("r1", &slot, &number), KHA_OK);
  EXPECT_EQ(slot, 0);
}

}  // namespace
