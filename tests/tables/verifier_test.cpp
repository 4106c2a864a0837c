// The region verifier: silent on regions the operations built, and one
// clear report for every rule a damaged region breaks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <ostream>
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

// A small consistent region: repositories in slots 1 (file sets 1, 3) and
// 2 (file set 2), a freed repository slot 3 and a freed file-set slot 4.
class VerifierTest : public kha::test::RegionTest {
 protected:
  void SetUp() override {
    RegionTest::SetUp();
    for (const char* name : {"a", "b", "c"}) AddRepository(name);
    for (const int owner : {1, 2, 1, 2}) AddFileSet(static_cast<uint16_t>(owner));
    ASSERT_EQ(DeleteKestiHistAdminOneFileSetForOneRepository(2, 2), KHA_OK);
    ASSERT_EQ(DeleteKestiHistAdminOneRepository(3), KHA_OK);
    ASSERT_TRUE(VerifyRegion().empty()) << Lines(VerifyRegion());
  }
};

KestiHistAdminRegionHeader& Header() { return *kha::HistAdminHeader(); }
KestiHistAdminRepository& Repo(int32_t slot) { return *kha::RepositoryRecordAt(slot); }
KestiHistAdminFileSet& Set(int32_t slot) { return *kha::FileSetRecordAt(slot); }

// One way of damaging the region, and the rule the verifier must name.
struct Damage {
  const char* name;
  void (*apply)();
  Rule rule;
};

void PrintTo(const Damage& damage, std::ostream* out) { *out << damage.name; }

const Damage kDamages[] = {
    {"RepositoryCount", [] { Header().NumberRepos = 3; }, Rule::kRepositoryCount},
    {"FileSetCount", [] { Header().NumberFileSets = 0; }, Rule::kFileSetCount},
    {"NegativeHighWater", [] { Header().ReposHighWater = -4; }, Rule::kHeader},
    {"TablesOverlap", [] { Header().FSHighWater = 1660; }, Rule::kHeader},  // 3 repositories
    {"SlotUsageFive", [] { Set(2).SlotUsage = 5; }, Rule::kSlotUsage},
    {"FreedSlotLosesItsIndex", [] { Repo(3).Index = 9; }, Rule::kIndex},
    {"FileSetIndex", [] { Set(1).Index = 3; }, Rule::kIndex},
    {"EmptyName", [] { Repo(1).RepositoryName[0] = '\0'; }, Rule::kRepositoryName},
    {"UnterminatedName", [] { std::memset(Repo(2).RepositoryName, 'n', 32); },
     Rule::kRepositoryName},
    {"NumberZero", [] { Repo(2).ReposNumber = 0; }, Rule::kRepositoryNumber},
    {"FreedRepositoryWithAChain", [] { Repo(3).FirstFS = 2; }, Rule::kFreedRepository},
    {"FreedFileSetStillLinked", [] { Set(4).NextIndex = 1; }, Rule::kFreedFileSet},
    {"ChainShorterThanNumberFS", [] { Repo(1).NumberFS = 3; }, Rule::kChain},
    {"ChainLongerThanNumberFS", [] { Repo(1).NumberFS = 1; }, Rule::kChain},
    {"WrongLastFS", [] { Repo(1).LastFS = 1; }, Rule::kChain},
    {"WrongOwner", [] { Set(3).ReposIndex = 2; }, Rule::kChain},
    {"MemberNotInUse", [] { Set(3).SlotUsage = 0; }, Rule::kChain},
    {"MemberOutsideTheTable", [] { Set(1).NextIndex = 999; }, Rule::kChain},
    {"NegativeNumberFS", [] { Repo(2).NumberFS = -1; }, Rule::kChain},
    {"FileSetInTwoChains",
     [] {
       Set(2).NextIndex = 3;  // b's chain runs on into a's last file set
       Repo(2).NumberFS = 2;
       Repo(2).LastFS = 3;
     },
     Rule::kSharedFileSet},
    {"ChainLoopingBack",
     [] {
       Set(3).NextIndex = 1;
       Repo(1).NumberFS = 3;
     },
     Rule::kSharedFileSet},
    {"MemberCutOff", [] { Repo(1).NumberFS = 1; }, Rule::kOrphanFileSet},
};

class VerifierDamage : public VerifierTest, public testing::WithParamInterface<Damage> {};

TEST_P(VerifierDamage, IsReported) {
  GetParam().apply();
  const auto violations = VerifyRegion();
  EXPECT_TRUE(Reports(violations, GetParam().rule)) << Lines(violations);
}

INSTANTIATE_TEST_SUITE_P(Verifier, VerifierDamage, testing::ValuesIn(kDamages),
                         [](const testing::TestParamInfo<Damage>& damage) {
                           return std::string(damage.param.name);
                         });

// A file set in use outside every chain (with the count that goes with it).
TEST_F(VerifierTest, AnOrphanAloneIsTheOnlyReport) {
  Set(4).SlotUsage = 1;
  Set(4).Index = 4;
  Header().NumberFileSets = 4;
  const auto violations = VerifyRegion();
  ASSERT_EQ(violations.size(), 1u) << Lines(violations);
  EXPECT_EQ(violations[0].rule, Rule::kOrphanFileSet);
}

TEST_F(VerifierTest, SlotsPastTheViewMakeOneLine) {
  Header().FSHighWater = 30000;
  const auto violations = VerifyRegion();
  EXPECT_TRUE(Reports(violations, Rule::kHeader)) << Lines(violations);
  int unreadable = 0;
  for (const auto& v : violations) {
    if (v.rule != Rule::kUnreadableSlot) continue;
    ++unreadable;
    EXPECT_NE(v.message.find("to 30000"), std::string::npos) << v.message;
  }
  EXPECT_EQ(unreadable, 1) << Lines(violations);
}

TEST_F(VerifierTest, MessagesAreSingleLinesNamingTheSlot) {
  Set(1).NextIndex = 999;
  const auto violations = VerifyRegion();
  ASSERT_FALSE(violations.empty());
  for (const auto& v : violations) {
    EXPECT_EQ(v.message.find('\n'), std::string::npos);
    EXPECT_NE(v.message.find("slot"), std::string::npos) << v.message;
  }
  EXPECT_NE(Lines(violations).find("999"), std::string::npos) << Lines(violations);
}

}  // namespace
