#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "kestihistadmin.h"
#include "support/region_fixture.h"

namespace {

using kha::test::DetachCompletely;

TEST(Lifecycle, SetupAttachDetachCountsShareOneAttachCount) {
  ASSERT_EQ(SetupAndAttachToKestiHistAdminSharedMemory(100000), KHA_OK);
  ASSERT_EQ(AttachToKestiHistAdminSharedMemory(), KHA_OK);
  EXPECT_EQ(DetachFromKestiHistAdminSharedMemory(), KHA_OK);
  uint32_t size = 0;
  EXPECT_EQ(GetKestiHistAdminHeader(&size, nullptr, nullptr, nullptr, nullptr), KHA_OK);
  EXPECT_EQ(size, 100000u);
  EXPECT_EQ(DetachFromKestiHistAdminSharedMemory(), KHA_OK);
  EXPECT_EQ(GetKestiHistAdminHeader(&size, nullptr, nullptr, nullptr, nullptr), KHA_NOT_MAPPED);
  EXPECT_EQ(DetachFromKestiHistAdminSharedMemory(), KHA_NOT_MAPPED);
  // The last detach ended the region; an attach finds none and holds nothing.
  EXPECT_EQ(AttachToKestiHistAdminSharedMemory(), KHA_OPEN_MUTEX_FAILED);
  EXPECT_EQ(DetachFromKestiHistAdminSharedMemory(), KHA_NOT_MAPPED);
}

TEST(Lifecycle, SecondSetupOnlyRaisesCount) {
  ASSERT_EQ(SetupAndAttachToKestiHistAdminSharedMemory(100000), KHA_OK);
  ASSERT_EQ(PutKestiHistAdminHeader(0xFFFFFFFFu, -1, 3, -1, -1), KHA_OK);
  ASSERT_EQ(SetupAndAttachToKestiHistAdminSharedMemory(50000), KHA_OK);
  uint32_t size = 0;
  uint16_t repos = 0;
  EXPECT_EQ(GetKestiHistAdminHeader(&size, nullptr, &repos, nullptr, nullptr), KHA_OK);
  EXPECT_EQ(size, 100000u);
  EXPECT_EQ(repos, 3u);
  DetachCompletely();
}

class HeaderAndTuning : public kha::test::RegionTest {};

TEST_F(HeaderAndTuning, FreshHeaderIsEmpty) {
  uint32_t size = 0;
  uint16_t rhw = 9, nr = 9, fhw = 9, nfs = 9;
  ASSERT_EQ(GetKestiHistAdminHeader(&size, &rhw, &nr, &fhw, &nfs), KHA_OK);
  EXPECT_EQ(size, kDefaultRegionSize);
  EXPECT_EQ(rhw + nr + fhw + nfs, 0);
  EXPECT_EQ(GetKestiHistAdminHeader(nullptr, nullptr, nullptr, nullptr, nullptr), KHA_OK);
}

TEST_F(HeaderAndTuning, PutRefusesOnlyARegionSizeTheViewCannotHold) {
  EXPECT_EQ(PutKestiHistAdminHeader(kDefaultRegionSize * 2, -1, -1, -1, -1), KHA_NO_SPACE);
  EXPECT_EQ(PutKestiHistAdminHeader(100, -1, -1, -1, -1), KHA_NO_SPACE);
  // Marks and counts are the caller's to set, even to tables that run
  // over each other and out of the view, and a negative mark.
  EXPECT_EQ(PutKestiHistAdminHeader(0xFFFFFFFFu, 32767, -2, 32767, 5), KHA_OK);
  uint32_t size = 0;
  uint16_t rhw = 0, nr = 0, fhw = 0, nfs = 0;
  ASSERT_EQ(GetKestiHistAdminHeader(&size, &rhw, &nr, &fhw, &nfs), KHA_OK);
  EXPECT_EQ(size, kDefaultRegionSize);
  EXPECT_EQ(rhw, 32767);
  EXPECT_EQ(nr, 0xFFFE);
  EXPECT_EQ(fhw, 32767);
  EXPECT_EQ(nfs, 5);
  // Nothing repairs it, and every operation on it stays inside the view
  // (a stray access beyond the mapping would end the test).
  uint16_t slot = 0, number = 0;
  EXPECT_EQ(AddKestiHistAdminOneRepository("Shaped", 1, &slot, &number), KHA_OK);
  EXPECT_EQ(slot, 1);
  PrintKestiHistAdminAllRepository();
  ASSERT_EQ(GetKestiHistAdminHeader(nullptr, &rhw, &nr, &fhw, nullptr), KHA_OK);
  EXPECT_EQ(rhw, 32767);
  EXPECT_EQ(nr, 0xFFFF);
  EXPECT_EQ(fhw, 32767);
  EXPECT_EQ(PutKestiHistAdminHeader(0xFFFFFFFFu, -5, -1, -1, -1), KHA_OK);
  ASSERT_EQ(GetKestiHistAdminHeader(nullptr, &rhw, nullptr, nullptr, nullptr), KHA_OK);
  EXPECT_EQ(rhw, 0xFFFB);
}

TEST_F(HeaderAndTuning, TuningRoundTripsAllBytes) {
  std::vector<unsigned char> in(680), out(680, 0);
  for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<unsigned char>(i * 7 + 1);
  ASSERT_EQ(PutKestiHistAdminTuningData(in.data()), KHA_OK);
  ASSERT_EQ(GetKestiHistAdminTuningData(out.data()), KHA_OK);
  EXPECT_EQ(in, out);
  EXPECT_EQ(GetKestiHistAdminTuningData(nullptr), KHA_OK);
  EXPECT_EQ(PutKestiHistAdminTuningData(nullptr), KHA_OK);
  ASSERT_EQ(GetKestiHistAdminTuningData(out.data()), KHA_OK);
  EXPECT_EQ(in, out);
}

}  // namespace
