// Scratch space of one test: a fresh directory of its own under the
// system's temporary directory, removed with everything in it at the end.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>

namespace kha::test {

class TemporaryDirectory {
 public:
  // The directory's name starts with `stem`, followed by random digits.
  explicit TemporaryDirectory(const std::string& stem = "kha-test");
  ~TemporaryDirectory();
  TemporaryDirectory(const TemporaryDirectory&) = delete;
  TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

  // False when no directory could be created (Path() is empty then).
  bool Made() const { return !path_.empty(); }
  const std::filesystem::path& Path() const { return path_; }
  // The path of `name` in the directory, as a string for child arguments.
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// Files in it by which the processes of a test signal each other.
bool Exists(const std::string& path);
bool Touch(const std::string& path);
// Waits until `path` exists; false when it does not within `bound`.
bool WaitForFile(const std::string& path, std::chrono::seconds bound);

}  // namespace kha::test
