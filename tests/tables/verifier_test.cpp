// The region verifier: silent on regions the operations built, and one
// clear report for every rule a damaged region breaks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "kestihistadmin.h"
#include "region/region_view.h"
#include "support/region_fixture.h"
#include "tables/table_helpers.h"
#include "tools/verify/region_verifier.h"

namespace {

using kha::test::AddFileSet;
using kha::test::AddRepository;
using kha::verify::Rule;
using kha::verify::VerifyRegion;
using kha::verify::Violation;

std::string Lines(const std::vector<Violation>& violations) {
  std::string lines;
  for (const auto& v : violations) lines += v.message + "\n";
  return lines;
}

bool Reports(const std::vector<Violation>& violations, Rule rule) {
  return std::any_of(violations.begin(), violations.end(),
                     [rule](const Violation& v) { return v.rule == rule; });
}

TEST(Verifier, ReportsThatNoRegionIsAttached) {
  const auto violations = VerifyRegion();
  ASSERT_EQ(violations.size(), 1u);
  EXPECT_EQ(violations[0].rule, Rule::kNotAttached);
}

class VerifierTest : public kha::test::RegionTest {
 protected:
  // Repositories a (slot 1, file sets 1, 3), b (slot 2, file set 2) and a
  // freed slot 3; file-set slot 4 freed.
  void SetUp() override {
    RegionTest::SetUp();
    a_ = AddRepository("a").slot;
    b_ = AddRepository("b").slot;
    AddRepository("c");
    AddFileSet(a_);
    AddFileSet(b_);
    AddFileSet(a_);
    AddFileSet(b_);
    ASSERT_EQ(DeleteKestiHistAdminOneFileSetForOneRepository(b_, 2), KHA_OK);
    ASSERT_EQ(DeleteKestiHistAdminOneRepository(3), KHA_OK);
    ASSERT_TRUE(VerifyRegion().empty()) << Lines(VerifyRegion());
  }
  void ExpectReported(Rule rule) {
    const auto violations = VerifyRegion();
    EXPECT_TRUE(Reports(violations, rule)) << Lines(violations);
  }
  uint16_t a_ = 0;
  uint16_t b_ = 0;
};

TEST_F(VerifierTest, WrongCounts) {
  kha::HistAdminHeader()->NumberRepos = 3;
  ExpectReported(Rule::kRepositoryCount);
  kha::HistAdminHeader()->NumberFileSets = 0;
  ExpectReported(Rule::kFileSetCount);
}

TEST_F(VerifierTest, OverlappingTablesAndSlotsPastTheView) {
  kha::HistAdminHeader()->FSHighWater = 30000;
  const auto violations = VerifyRegion();
  EXPECT_TRUE(Reports(violations, Rule::kHeader)) << Lines(violations);
  // The slots past the view make one line, not thousands.
  int unreadable = 0;
  for (const auto& v : violations) {
    if (v.rule != Rule::kUnreadableSlot) continue;
    ++unreadable;
    EXPECT_NE(v.message.find("to 30000"), std::string::npos) << v.message;
  }
  EXPECT_EQ(unreadable, 1) << Lines(violations);
}

TEST_F(VerifierTest, NegativeHighWater) {
  kha::HistAdminHeader()->ReposHighWater = -4;
  ExpectReported(Rule::kHeader);
}

TEST_F(VerifierTest, SlotUsageOutsideZeroAndOne) {
  kha::FileSetRecordAt(2)->SlotUsage = 5;
  ExpectReported(Rule::kSlotUsage);
}

TEST_F(VerifierTest, WrongIndex) {
  kha::RepositoryRecordAt(3)->Index = 9;  // freed slots keep their Index too
  ExpectReported(Rule::kIndex);
}

TEST_F(VerifierTest, EmptyName) {
  kha::RepositoryRecordAt(1)->RepositoryName[0] = '\0';
  ExpectReported(Rule::kRepositoryName);
}

TEST_F(VerifierTest, UnterminatedName) {
  std::memset(kha::RepositoryRecordAt(2)->RepositoryName, 'n', 32);
  ExpectReported(Rule::kRepositoryName);
}

TEST_F(VerifierTest, NumberZeroInUse) {
  kha::RepositoryRecordAt(2)->ReposNumber = 0;
  ExpectReported(Rule::kRepositoryNumber);
}

TEST_F(VerifierTest, FreedRepositoryWithAChain) {
  kha::RepositoryRecordAt(3)->FirstFS = 2;
  ExpectReported(Rule::kFreedRepository);
}

TEST_F(VerifierTest, FreedFileSetStillLinked) {
  kha::FileSetRecordAt(4)->NextIndex = 1;
  ExpectReported(Rule::kFreedFileSet);
}

TEST_F(VerifierTest, ChainLongerThanItsRecords) {
  kha::RepositoryRecordAt(a_)->NumberFS = 3;
  ExpectReported(Rule::kChain);
}

TEST_F(VerifierTest, ChainRunningOnPastNumberFS) {
  kha::RepositoryRecordAt(a_)->NumberFS = 1;
  const auto violations = VerifyRegion();
  EXPECT_TRUE(Reports(violations, Rule::kChain)) << Lines(violations);
  EXPECT_TRUE(Reports(violations, Rule::kOrphanFileSet)) << Lines(violations);
}

TEST_F(VerifierTest, WrongLastFS) {
  kha::RepositoryRecordAt(a_)->LastFS = 1;
  ExpectReported(Rule::kChain);
}

TEST_F(VerifierTest, WrongOwner) {
  kha::FileSetRecordAt(3)->ReposIndex = static_cast<int16_t>(b_);
  ExpectReported(Rule::kChain);
}

TEST_F(VerifierTest, FileSetInTwoChains) {
  // b's chain (file set 2) continues into a's last file set.
  kha::FileSetRecordAt(2)->NextIndex = 3;
  kha::RepositoryRecordAt(b_)->NumberFS = 2;
  kha::RepositoryRecordAt(b_)->LastFS = 3;
  ExpectReported(Rule::kSharedFileSet);
}

TEST_F(VerifierTest, ChainLoopingBack) {
  kha::FileSetRecordAt(3)->NextIndex = 1;
  kha::RepositoryRecordAt(a_)->NumberFS = 3;
  ExpectReported(Rule::kSharedFileSet);
}

TEST_F(VerifierTest, ChainNamingASlotOutsideTheTable) {
  kha::FileSetRecordAt(1)->NextIndex = 999;
  ExpectReported(Rule::kChain);
}

TEST_F(VerifierTest, FileSetInUseOutsideEveryChain) {
  KestiHistAdminFileSet* freed = kha::FileSetRecordAt(4);
  freed->SlotUsage = 1;
  freed->Index = 4;
  kha::HistAdminHeader()->NumberFileSets = 4;
  const auto violations = VerifyRegion();
  EXPECT_TRUE(Reports(violations, Rule::kOrphanFileSet)) << Lines(violations);
  EXPECT_EQ(violations.size(), 1u) << Lines(violations);
}

TEST_F(VerifierTest, MessagesAreSingleLinesNamingTheSlot) {
  kha::FileSetRecordAt(1)->NextIndex = 999;
  const auto violations = VerifyRegion();
  ASSERT_FALSE(violations.empty());
  for (const auto& v : violations) {
    EXPECT_EQ(v.message.find('\n'), std::string::npos);
    EXPECT_NE(v.message.find("slot"), std::string::npos) << v.message;
  }
  EXPECT_NE(Lines(violations).find("999"), std::string::npos) << Lines(violations);
}

}  // namespace
