// A fresh history configuration directory for every test (a scratch
// directory), named by the environment variable that both libraries read. The file-system calls and
// the marnuser state are put back to their load-time state around each test.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "config/config_directory.h"
#include "config/file_system.h"
#include "marnuser/marn_library.h"
#include "support/environment.h"
#include "support/file_bytes.h"
#include "support/temporary_directory.h"

namespace kha::test {

class ConfigDirTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(scratch_.Made());
    dir_ = scratch_.Path();
    SetEnvironment(historian::kConfigDirectoryVariable, dir_.string());
    historian::ActiveFileSystem() = historian::OsFileSystem();
    historian::TheMarnLibrary().Reset();
  }

  void TearDown() override {
    historian::ActiveFileSystem() = historian::OsFileSystem();
    historian::TheMarnLibrary().Reset();
  }

  std::filesystem::path File(const std::string& name) const { return dir_ / name; }
  void Write(const std::string& name, const std::string& bytes) const {
    WriteFileBytes(File(name), bytes);
  }
  std::string Read(const std::string& name) const { return ReadFileBytes(File(name)); }

  // The names of the files in the directory, sorted.
  std::string Listing() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    std::string listing;
    for (const auto& name : names) listing += name + " ";
    return listing;
  }

  TemporaryDirectory scratch_{"kha-historian"};
  std::filesystem::path dir_;
};

}  // namespace kha::test
