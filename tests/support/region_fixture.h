// A test fixture holding a freshly set-up region of this test process, and
// the bytes of the region as this process sees them.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "kestihistadmin.h"
#include "region/process_state.h"

namespace kha::test {

// Detaches until this process holds nothing any more.
inline void DetachCompletely() {
  for (int i = 0; i < 1000 && DetachFromKestiHistAdminSharedMemory() == KHA_OK; ++i) {
  }
}

// Every byte of this process's view of the region (none when not attached).
inline std::vector<std::byte> RegionViewBytes() {
  const ProcessState& process = HistAdminProcess();
  const std::byte* view = process.view.load();
  if (view == nullptr) return {};
  return {view, view + process.view_length.load()};
}

class RegionTest : public testing::Test {
 protected:
  static constexpr uint32_t kDefaultRegionSize = 1000000;

  void SetUp() override {
    ASSERT_EQ(SetupAndAttachToKestiHistAdminSharedMemory(RegionSize()), KHA_OK);
  }
  void TearDown() override { DetachCompletely(); }

  virtual uint32_t RegionSize() const { return kDefaultRegionSize; }
};

}  // namespace kha::test
