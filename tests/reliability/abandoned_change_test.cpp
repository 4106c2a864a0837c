// What a change killed half way leaves, and what the repair makes of it.
// For every writing operation of the tables and every number of its
// writes that a killed owner may have got through, this test writes that
// many into a fresh region, records the rules the invariant checker finds
// broken, repairs, and demands a consistent region holding either the
// tables from before the change or those from after it (for the delete of
// a repository also: after the release of its file sets, its first half),
// never anything else. The table it prints is the one in docs/reliability.md.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "figures.h"
#include "half_written.h"
#include "kestihistadmin.h"
#include "support/region_fixture.h"
#include "tables/region_repair.h"
#include "tools/verify/region_verifier.h"

namespace kha::test::reliability {
namespace {

const char* RuleName(verify::Rule rule) {
  switch (rule) {
    case verify::Rule::kNotAttached: return "not-attached";
    case verify::Rule::kHeader: return "header";
    case verify::Rule::kUnreadableSlot: return "unreadable-slot";
    case verify::Rule::kRepositoryCount: return "NumberRepos";
    case verify::Rule::kFileSetCount: return "NumberFileSets";
    case verify::Rule::kSlotUsage: return "SlotUsage";
    case verify::Rule::kIndex: return "Index";
    case verify::Rule::kRepositoryName: return "name";
    case verify::Rule::kRepositoryNumber: return "ReposNumber";
    case verify::Rule::kFreedRepository: return "freed-repository";
    case verify::Rule::kFreedFileSet: return "freed-file-set";
    case verify::Rule::kChain: return "chain";
    case verify::Rule::kSharedFileSet: return "shared-file-set";
    case verify::Rule::kOrphanFileSet: return "orphan-file-set";
  }
  return "?";
}

// The tables as callers see them: every repository in use with its
// number, name, status and the slots of its chain.
std::string Tables() {
  std::vector<KestiHistAdminRepository> repositories(64);
  const int16_t capacity = 64;
  uint16_t count = 0;
  if (GetKestiHistAdminAllRepositories(&capacity, repositories.data(), &count) != KHA_OK) {
    return "unlistable";
  }
  std::string text;
  for (uint16_t i = 0; i < count; ++i) {
    const KestiHistAdminRepository& r = repositories[i];
    text += std::to_string(r.Index) + ":" + r.RepositoryName + "#" + std::to_string(r.ReposNumber) +
            "s" + std::to_string(r.Status) + "[";
    std::vector<KestiHistAdminFileSet> file_sets(64);
    const int16_t room = 64;
    uint16_t n = 0;
    if (GetKestiHistAdminAllFileSetsForOneRepository(static_cast<uint16_t>(r.Index), &room,
                                                     file_sets.data(), &n) != KHA_OK) {
      return "unlistable";
    }
    for (uint16_t f = 0; f < n; ++f) text += std::to_string(file_sets[f].Index) + " ";
    text += "] ";
  }
  return text;
}

struct Case {
  Change change;
  int16_t file_set_number;  // for kDeleteFileSet
  bool free_slots;          // a freed repository and file-set slot to reuse
  std::string Label() const {
    std::string label = ChangeName(change);
    if (change == Change::kDeleteFileSet) label += " " + std::to_string(file_set_number) + " of 3";
    if (change == Change::kAddRepository || change == Change::kAddFileSet) {
      label += free_slots ? " (reused slot)" : " (carved slot)";
    }
    return label;
  }
};

// Alpha with 3 file sets, Beta with 1, Gamma with none; with
// `free_slots`, also a deleted repository and file set whose slots are free.
uint16_t Populate(bool free_slots) {
  uint16_t alpha = 0, slot = 0, number = 0, fs_number = 0, fs_slot = 0;
  EXPECT_EQ(AddKestiHistAdminOneRepository("Alpha", 1, &alpha, &number), KHA_OK);
  EXPECT_EQ(AddKestiHistAdminOneRepository("Beta", 3, &slot, &number), KHA_OK);
  EXPECT_EQ(AddKestiHistAdminOneFileSet(slot, &fs_number, &fs_slot), KHA_OK);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(AddKestiHistAdminOneFileSet(alpha, &fs_number, &fs_slot), KHA_OK);
  }
  EXPECT_EQ(AddKestiHistAdminOneRepository("Gamma", 1, &slot, &number), KHA_OK);
  if (free_slots) {
    EXPECT_EQ(AddKestiHistAdminOneRepository("Gone", 1, &slot, &number), KHA_OK);
    EXPECT_EQ(AddKestiHistAdminOneFileSet(slot, &fs_number, &fs_slot), KHA_OK);
    EXPECT_EQ(DeleteKestiHistAdminOneRepository(slot), KHA_OK);
  }
  return alpha;
}

constexpr uint32_t kRegionSize = 40000;

class AbandonedChange : public testing::Test {
 protected:
  void TearDown() override { DetachCompletely(); }

  // A fresh region (the last detach removed the old one) with the
  // population above; returns the slot of Alpha.
  uint16_t Fresh(bool free_slots) {
    DetachCompletely();
    EXPECT_EQ(SetupAndAttachToKestiHistAdminSharedMemory(kRegionSize), KHA_OK);
    return Populate(free_slots);
  }
};

TEST_F(AbandonedChange, RepairLeavesTheTablesFromBeforeOrAfterTheChange) {
  const std::vector<Case> cases = {
      {Change::kAddRepository, 0, false},    {Change::kAddRepository, 0, true},
      {Change::kAddFileSet, 0, false},       {Change::kAddFileSet, 0, true},
      {Change::kDeleteFileSet, 1, false},    {Change::kDeleteFileSet, 2, false},
      {Change::kDeleteFileSet, 3, false},    {Change::kReleaseFileSets, 0, false},
      {Change::kDeleteRepository, 0, false},
  };
  int64_t states = 0, broken_after_repair = 0, third_states = 0;
  std::printf("%-36s %5s  %-44s %s\n", "change", "writes", "rules broken before the repair",
              "repaired to");
  for (const Case& c : cases) {
    uint16_t alpha = Fresh(c.free_slots);
    const std::string before = Tables();
    ASSERT_TRUE(WriteFirstSteps(c.change, alpha, c.file_set_number, 1 << 30));
    const std::string after = Tables();
    ASSERT_TRUE(verify::VerifyRegion().empty()) << c.Label() << ": the full change is broken";
    ASSERT_NE(before, after) << c.Label();
    // The delete of a repository releases its file sets first, a change
    // of its own that callers can also make: a delete killed after it
    // leaves the repository in use with an empty chain.
    std::string released = before;
    if (c.change == Change::kDeleteRepository) {
      alpha = Fresh(c.free_slots);
      ASSERT_TRUE(WriteFirstSteps(Change::kReleaseFileSets, alpha, 0, 1 << 30));
      released = Tables();
    }

    for (int32_t steps = 0;; ++steps) {
      alpha = Fresh(c.free_slots);
      LockHistAdminMutex();
      const bool complete = WriteFirstSteps(c.change, alpha, c.file_set_number, steps);
      std::set<std::string> rules;
      for (const verify::Violation& v : verify::VerifyRegion()) rules.insert(RuleName(v.rule));
      (void)RepairHistAdminRegion();
      const std::vector<verify::Violation> left = verify::VerifyRegion();
      const std::string repaired = Tables();
      UnlockHistAdminMutex();
      ++states;
      broken_after_repair += left.empty() ? 0 : 1;
      for (const verify::Violation& v : left) ADD_FAILURE() << c.Label() << " " << steps << ": " << v.message;
      const char* outcome = repaired == before     ? "before"
                            : repaired == after    ? "after"
                            : repaired == released ? "file sets released"
                                                   : "neither";
      if (repaired != before && repaired != after && repaired != released) {
        ++third_states;
        ADD_FAILURE() << c.Label() << " after " << steps << " writes repaired to " << repaired
                      << "\n  before: " << before << "\n  after:  " << after;
      }
      std::string broken;
      for (const std::string& rule : rules) broken += (broken.empty() ? "" : ", ") + rule;
      std::printf("%-36s %5d  %-44s %s\n", c.Label().c_str(), steps,
                  broken.empty() ? "-" : broken.c_str(), outcome);
      if (complete) break;
    }
  }
  Figure("abandoned_change", "half_written_states", static_cast<double>(states), "information");
  Figure("abandoned_change", "inconsistent_after_repair", static_cast<double>(broken_after_repair),
         "must be 0");
  Figure("abandoned_change", "neither_before_nor_after", static_cast<double>(third_states),
         "must be 0");
}

TEST_F(AbandonedChange, RepairChangesNothingInAConsistentRegion) {
  Fresh(true);
  LockHistAdminMutex();
  const std::string before = Tables();
  EXPECT_EQ(RepairHistAdminRegion(), 0);
  EXPECT_EQ(Tables(), before);
  UnlockHistAdminMutex();
}

}  // namespace
}  // namespace kha::test::reliability
