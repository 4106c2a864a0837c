// Scratch space of one test: a fresh directory of its own under the
// system's temporary directory, removed with everything in it at the end.
#pragma once

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

}  // namespace kha::test
