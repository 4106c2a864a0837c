#include "config/atomic_files.h"

#include <atomic>
#include <cstdint>
#include <optional>
#include <random>
#include <vector>

#include "config/file_reading.h"
#include "config/file_system.h"

namespace kha::historian {

namespace {

namespace fs = std::filesystem;

fs::path DirectoryOf(const fs::path& file) {
  const fs::path directory = file.parent_path();
  return directory.empty() ? fs::path(".") : directory;
}

struct OldFile {
  bool existed = false;
  std::string contents;
};

// A name no other writer picks: the temporary files of two processes that
// save at once never collide.
fs::path TemporaryPathFor(const fs::path& target) {
  static std::atomic<uint64_t> counter{0};
  thread_local std::mt19937_64 random{std::random_device{}()};
  const uint64_t suffix = random() ^ counter.fetch_add(1);
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string name = "." + target.filename().string() + ".";
  for (int shift = 60; shift >= 0; shift -= 4) name.push_back(kDigits[(suffix >> shift) & 0xF]);
  name += ".tmp";
  return target.parent_path() / name;
}

// Writes `contents` into a new temporary file beside `target` and flushes
// it to disk. Nothing is left behind on failure.
std::optional<fs::path> WriteTemporaryFile(const fs::path& target, std::string_view contents) {
  const FileSystemCalls& calls = ActiveFileSystem();
  const fs::path temporary = TemporaryPathFor(target);
  os::FileHandle file = 0;
  if (!calls.create_new_file(temporary, &file)) return std::nullopt;

  bool written = true;
  while (written && !contents.empty()) {
    const std::ptrdiff_t count = calls.write_to_file(file, contents.data(), contents.size());
    written = count > 0 && static_cast<std::size_t>(count) <= contents.size();
    if (written) contents.remove_prefix(static_cast<std::size_t>(count));
  }
  const bool synced = written && calls.sync_file(file);
  const bool closed = calls.close_file(file);
  if (!synced || !closed) {
    calls.remove_file(temporary);
    return std::nullopt;
  }
  return temporary;
}

// Puts back what `target` held before; best effort, as it runs only when
// a replacement has already failed.
void Restore(const fs::path& target, const OldFile& old) {
  const FileSystemCalls& calls = ActiveFileSystem();
  if (!old.existed) {
    calls.remove_file(target);
  } else if (const auto temporary = WriteTemporaryFile(target, old.contents)) {
    if (!calls.replace_file(*temporary, target)) calls.remove_file(*temporary);
  }
  calls.sync_directory(DirectoryOf(target));
}

}  // namespace

bool ReplaceFilesAtomically(std::span<const FileReplacement> files) {
  if (files.empty()) return true;
  const FileSystemCalls& calls = ActiveFileSystem();

  std::vector<OldFile> old_files(files.size());
  for (std::size_t i = 0; i < files.size(); ++i) {
    switch (ReadWholeFile(files[i].path, old_files[i].contents)) {
      case ReadOutcome::kRead:
        old_files[i].existed = true;
        break;
      case ReadOutcome::kMissing:
        break;
      case ReadOutcome::kFailed:
        return false;
    }
  }

  std::vector<fs::path> temporaries;
  for (const auto& file : files) {
    auto temporary = WriteTemporaryFile(file.path, file.contents);
    if (!temporary) {
      for (const auto& written : temporaries) calls.remove_file(written);
      return false;
    }
    temporaries.push_back(std::move(*temporary));
  }

  std::size_t replaced = 0;
  while (replaced < files.size() &&
         calls.replace_file(temporaries[replaced], files[replaced].path)) {
    ++replaced;
  }
  if (replaced == files.size() && calls.sync_directory(DirectoryOf(files.front().path))) {
    return true;
  }
  for (std::size_t i = replaced; i < files.size(); ++i) calls.remove_file(temporaries[i]);
  for (std::size_t i = replaced; i-- > 0;) Restore(files[i].path, old_files[i]);
  return false;
}

}  // namespace kha::historian
