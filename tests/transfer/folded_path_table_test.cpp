// The path table of the configuration load's index against a plain map of
// folded strings: the same first slot for every path, in any letter case,
// through growth and with paths that differ only in their last bytes.
#include "transfer/folded_path_table.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>

namespace kha {
namespace {

std::string Folded(const std::string& path) {
  std::string folded = path.substr(0, 256);
  for (char& c : folded) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return folded;
}

std::string SpellDifferently(std::string path, std::mt19937& random) {
  for (char& c : path) {
    if (random() % 2 != 0) continue;
    if (c >= 'a' && c <= 'z')
      c = static_cast<char>(c - 'a' + 'A');
    else if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c - 'A' + 'a');
  }
  return path;
}

TEST(FoldedPathTable, GivesTheFirstSlotOfEveryPathInAnyCase) {
  std::mt19937 random(7);
  FoldedPathTable table;
  std::map<std::string, int16_t> reference;
  std::vector<std::string> inserted;
  // Paths sharing long prefixes, some with bytes above 0x7F (not folded),
  // many inserted twice in another spelling (the second slot is ignored).
  for (int16_t slot = 1; slot <= 5000; ++slot) {
    std::string path = "D:\\History\\Archives\\Unit" + std::to_string(random() % 3000);
    if (random() % 7 == 0) path += "\xC4\xD6";
    if (random() % 5 == 0 && !inserted.empty()) {
      path = SpellDifferently(inserted[random() % inserted.size()], random);
    }
    table.Insert(path.c_str(), slot);
    reference.emplace(Folded(path), slot);
    inserted.push_back(path);
  }
  EXPECT_EQ(table.size(), reference.size());
  for (const std::string& path : inserted) {
    const std::string other = SpellDifferently(path, random);
    EXPECT_EQ(table.Find(other.c_str()), reference.at(Folded(path))) << other;
  }
  // Not there: a prefix, a longer path, a byte above 0x7F in another case.
  EXPECT_EQ(table.Find("D:\\History\\Archives\\Unit"), 0);
  EXPECT_EQ(table.Find("D:\\History\\Archives\\Unit1x"), 0);
  EXPECT_EQ(table.Find("D:\\History\\Archives\\Unit1\xE4\xF6"), 0);
  EXPECT_EQ(table.Find(""), 0);

  table.Clear();
  EXPECT_EQ(table.size(), 0u);
  EXPECT_EQ(table.Find(inserted.front().c_str()), 0);
}

TEST(FoldedPathTable, PathsAreCutAtTheEndOfTheField) {
  FoldedPathTable table;
  EXPECT_EQ(table.Find("anything"), 0);  // empty, never grown
  std::string path(256, 'p');
  table.Insert((path + "tail").c_str(), 3);
  EXPECT_EQ(table.Find(path.c_str()), 3);
  EXPECT_EQ(table.Find((path + "other").c_str()), 3);
  EXPECT_EQ(table.Find(path.substr(0, 255).c_str()), 0);
  table.Insert("", 4);
  EXPECT_EQ(table.Find(""), 4);
  // A table that holds only the empty path has stored no bytes at all.
  FoldedPathTable only_empty;
  only_empty.Insert("", 5);
  EXPECT_EQ(only_empty.Find(""), 5);
}

}  // namespace
}  // namespace kha
