// Free-slot hints change how far the slot search looks, never what it
// finds: one script of adds and frees, played once with every call a hold
// of its own and once inside a hint scope under one hold, gives the same
// slots, in regions left byte for byte alike.
#include "region/slot_hints.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "kestihistadmin.h"
#include "region/region_view.h"
#include "support/region_fixture.h"

namespace {

constexpr uint32_t kRegionSize = 400000;

struct Step {
  int kind;  // 0: add a file set, 1: delete one, 2: add a repository, 3: delete one, 4: header
  uint32_t pick;
};

std::vector<Step> Script(uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<Step> steps;
  for (int i = 0; i < 1500; ++i) {
    const auto roll = static_cast<uint32_t>(random() % 100);
    const int kind = roll < 60 ? 0 : roll < 80 ? 1 : roll < 90 ? 2 : roll < 98 ? 3 : 4;
    steps.push_back({kind, static_cast<uint32_t>(random())});
  }
  return steps;
}

// Plays the script; returns every slot handed out, in order.
std::vector<int> Play(const std::vector<Step>& steps) {
  std::vector<int> slots;
  uint16_t slot = 0, number = 0;
  EXPECT_EQ(AddKestiHistAdminOneRepository("first", 1, &slot, &number), KHA_OK);
  for (const Step& step : steps) {
    const KestiHistAdminRegionHeader& header = *kha::HistAdminHeader();
    const int repositories = header.ReposHighWater;
    const auto repository =
        static_cast<uint16_t>(1 + step.pick % static_cast<uint32_t>(repositories));
    switch (step.kind) {
      case 0:
        slots.push_back(AddKestiHistAdminOneFileSet(repository, &number, &slot) == KHA_OK ? slot
                                                                                          : -1);
        break;
      case 1: {
        const KestiHistAdminRepository& r = *kha::RepositoryRecordAt(repository);
        if (r.SlotUsage == 1 && r.NumberFS > 0) {
          EXPECT_EQ(DeleteKestiHistAdminOneFileSetForOneRepository(
                        repository, static_cast<uint16_t>(1 + step.pick / 7 % r.NumberFS)),
                    KHA_OK);
        }
        break;
      }
      case 2:
        if (AddKestiHistAdminOneRepository("more", 1, &slot, &number) == KHA_OK) {
          slots.push_back(1000 + slot);
        }
        break;
      case 3:
        if (repository != 1) {
          EXPECT_EQ(DeleteKestiHistAdminOneRepository(repository), KHA_OK);
        }
        break;
      default:
        // The file-set table shrinks to its lower half: the slots above
        // are carved out again, over whatever they held.
        EXPECT_EQ(PutKestiHistAdminHeader(0xFFFFFFFFu, -1, -1,
                                          static_cast<int16_t>(header.FSHighWater / 2), -1),
                  KHA_OK);
        break;
    }
  }
  return slots;
}

class SlotHints : public kha::test::RegionTest {
 protected:
  uint32_t RegionSize() const override { return kRegionSize; }
  // Back to the state set-up leaves: zeros and an empty header.
  void Clear() {
    std::memset(kha::HistAdminHeader(), 0, kRegionSize);
    ASSERT_EQ(PutKestiHistAdminHeader(kRegionSize, 0, 0, 0, 0), KHA_OK);
  }
};

TEST_F(SlotHints, OneHoldWithHintsFindsTheSameSlotsAsSeparateCalls) {
  for (uint32_t seed : {1u, 2u, 3u}) {
    const std::vector<Step> steps = Script(seed);
    Clear();
    const std::vector<int> plain = Play(steps);
    const std::vector<std::byte> plain_region = kha::test::RegionViewBytes();

    Clear();
    LockHistAdminMutex();
    std::vector<int> hinted;
    {
      const kha::FreeSlotHintScope scope;
      hinted = Play(steps);
    }
    UnlockHistAdminMutex();

    ASSERT_EQ(hinted, plain) << "seed " << seed;
    EXPECT_TRUE(kha::test::RegionViewBytes() == plain_region) << "seed " << seed;
    EXPECT_GT(plain.size(), 800u);
  }
}

TEST_F(SlotHints, AHoldReleasedInsideAScopeForgetsWhatItKnew) {
  uint16_t repository = 0, number = 0, slot = 0;
  ASSERT_EQ(AddKestiHistAdminOneRepository("r", 1, &repository, &number), KHA_OK);
  const kha::FreeSlotHintScope scope;
  LockHistAdminMutex();
  for (int k = 1; k <= 3; ++k)
    ASSERT_EQ(AddKestiHistAdminOneFileSet(repository, &number, &slot), KHA_OK);
  UnlockHistAdminMutex();
  // Between two holds anything may happen to the region; here slot 1 is
  // freed behind the library's back, as another process could.
  kha::FileSetRecordAt(1)->SlotUsage = 0;
  LockHistAdminMutex();
  ASSERT_EQ(AddKestiHistAdminOneFileSet(repository, &number, &slot), KHA_OK);
  EXPECT_EQ(slot, 1);
  UnlockHistAdminMutex();
}

}  // namespace
