// Scratch space of one test run: a fresh directory under the system's
// temporary directory, removed with everything in it at the end; and the
// tie of a child process to its parent.
#pragma once

#include <filesystem>
#include <string>
#include <system_error>

#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>

namespace kha::test::reliability {

class ScratchDirectory {
 public:
  ScratchDirectory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kha-reliability-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~ScratchDirectory() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

  bool Made() const { return !path_.empty(); }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// In a child process of the suite: ends it with SIGKILL when the test
// process that started it ends, so that a failed or killed test leaves no
// process behind that still calls into the region.
inline void DieWithParent() { ::prctl(PR_SET_PDEATHSIG, SIGKILL); }

}  // namespace kha::test::reliability
