// A test fixture holding a freshly set-up region of this test process.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>

#include "kestihistadmin.h"

namespace kha::test {

// Detaches until this process holds nothing any more.
inline void DetachCompletely() {
  for (int i = 0; i < 1000 && DetachFromKestiHistAdminSharedMemory() == KHA_OK; ++i) {
  }
}

class RegionTest : public testing::Test {
 protected:
  static constexpr uint32_t kDefaultRegionSize = 1000000;

  void SetUp() override { ASSERT_EQ(SetupAndAttachToKestiHistAdminSharedMemory(RegionSize()), KHA_OK); }
  void TearDown() override { DetachCompletely(); }

  virtual uint32_t RegionSize() const { return kDefaultRegionSize; }
};

}  // namespace kha::test
