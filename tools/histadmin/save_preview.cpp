#include "save_preview.h"

#include <cstdlib>
#include <dtl/dtl.hpp>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "drell.h"
#include "failure.h"
#include "kestihistadmin.h"
#include "output.h"
#include "region_access.h"
#include "session.h"

namespace kha::histadmin {
namespace {

constexpr char kConfigDirectoryVariable[] = "KESTI_HISTORY_CONFIG_DIR";

void SetVariable(const char* name, const std::string* value) {
#if defined(_WIN32)
  (void)_putenv_s(name, value != nullptr ? value->c_str() : "");
#else
  if (value != nullptr) {
    (void)::setenv(name, value->c_str(), 1);
  } else {
    (void)::unsetenv(name);
  }
#endif
}

// A fresh directory of this process's own; removed with its files.
class ScratchDirectory {
 public:
  ScratchDirectory() {
    std::random_device seed;
    std::mt19937_64 random(seed());
    for (int attempt = 0; attempt < 16 && path_.empty(); ++attempt) {
      const auto candidate = std::filesystem::temp_directory_path() /
                             ("histadmin-dry-run-" + std::to_string(random()));
      std::error_code error;
      if (std::filesystem::create_directory(candidate, error)) path_ = candidate;
    }
    if (path_.empty()) Fail("save --dry-run: cannot make a temporary directory");
  }
  ~ScratchDirectory() {
    std::error_code error;
    std::filesystem::remove_all(path_, error);
  }
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// Points the configuration directory elsewhere for a scope.
class RedirectedConfigDirectory {
 public:
  explicit RedirectedConfigDirectory(const std::filesystem::path& path) {
    if (const char* old = std::getenv(kConfigDirectoryVariable)) old_ = old;
    const std::string value = path.string();
    SetVariable(kConfigDirectoryVariable, &value);
  }
  ~RedirectedConfigDirectory() { SetVariable(kConfigDirectoryVariable, old_ ? &*old_ : nullptr); }
  RedirectedConfigDirectory(const RedirectedConfigDirectory&) = delete;
  RedirectedConfigDirectory& operator=(const RedirectedConfigDirectory&) = delete;

 private:
  std::optional<std::string> old_;
};

std::vector<std::string> LinesOf(const std::filesystem::path& path) {
  std::vector<std::string> lines;
  std::ifstream file(path, std::ios::binary);
  for (std::string line; std::getline(file, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// "--- PATH / +++ PATH (after the save)" and the hunks; empty when the
// two are the same.
std::string UnifiedDiff(const std::string& path, const std::vector<std::string>& before,
                        const std::vector<std::string>& after) {
  dtl::Diff<std::string> diff(before, after);
  diff.compose();
  if (diff.getEditDistance() == 0) return {};
  diff.composeUnifiedHunks();
  std::ostringstream text;
  text << "--- " << path << '\n' << "+++ " << path << " (after the save)\n";
  diff.printUnifiedFormat(text);
  return text.str();
}

// Where the historian's libraries keep config.dat or tune.dat: the files a
// save replaces. Asked of them, not read from the region, whose paths any
// account may have written.
std::string ConfigFilePath(bool tune) {
  char path[256] = {};
  unsigned char timestamp[DRELL_TIMESTAMP_SIZE] = {};
  const int result = tune ? getTuningPathAndTimestamp(path, timestamp)
                          : getConfigPathAndTimestamp(path, timestamp);
  if (result != 0) {
    Fail(std::string("save --dry-run: the historian's library cannot say where ") +
         (tune ? "tune.dat" : "config.dat") + " is");
  }
  path[sizeof path - 1] = '\0';
  return path;
}

}  // namespace

void PrintSavePreview(bool json) {
  ScratchDirectory scratch;
  const std::string config_path = ConfigFilePath(false);
  const std::string tune_path = ConfigFilePath(true);
  RegionLock lock;
  {
    const RedirectedConfigDirectory redirected(scratch.path());
    Check(SaveKestiHistAdminToConfig(), "cannot save to the temporary directory of the dry run");
  }
  nlohmann::ordered_json files = nlohmann::ordered_json::array();
  std::string all;
  for (const auto& [path, written] : {std::pair{config_path, std::string("config.dat")},
                                      std::pair{tune_path, std::string("tune.dat")}}) {
    const std::string diff = UnifiedDiff(path, LinesOf(path), LinesOf(scratch.path() / written));
    files.push_back({{"Path", path}, {"Changed", !diff.empty()}, {"Diff", diff}});
    all += diff;
  }
  if (json) {
    PrintJson({{"Files", files}});
  } else if (all.empty()) {
    std::cout << "histadmin: the save would change neither config.dat nor tune.dat\n";
  } else {
    std::cout << all;
  }
}

}  // namespace kha::histadmin
