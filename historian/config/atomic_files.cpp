#include "config/atomic_files.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "config/file_reading.h"
#include "config/file_system.h"

namespace kha::historian {

namespace {

namespace fs = std::filesystem;

// "PATH: WHAT: REASON", with the system's reason for the call that has
// just failed; read before anything else can change it.
std::string FailureOf(const fs::path& path, std::string_view what) {
  std::string reason = os::LastErrorText();
  return path.string() + ": " + std::string(what) + ": " + reason;
}

fs::path DirectoryOf(const fs::path& file) {
  const fs::path directory = file.parent_path();
  return directory.empty() ? fs::path(".") : directory;
}

// What a replaced file held is kept in memory until the replacement is
// complete, to put it back on failure; a file bigger than this is no
// configuration file of ours and is not replaced.
constexpr std::size_t kMaxOldFileSize = 64u << 20;

struct OldFile {
  bool existed = false;
  std::string contents;
};

// Temporary files are named ".<target's name>.<16 hex digits>.tmp".
constexpr char kHexDigits[] = "0123456789abcdef";
constexpr std::size_t kSuffixDigits = 16;
constexpr std::string_view kTemporaryExtension = ".tmp";

std::string TemporaryPrefixFor(const fs::path& target) {
  return "." + target.filename().string() + ".";
}

// A name no other writer picks: the temporary files of two processes that
// save at once never collide.
fs::path TemporaryPathFor(const fs::path& target) {
  static std::atomic<uint64_t> counter{0};
  thread_local std::mt19937_64 random{std::random_device{}()};
  const uint64_t suffix = random() ^ counter.fetch_add(1);
  std::string name = TemporaryPrefixFor(target);
  for (std::size_t digit = kSuffixDigits; digit-- > 0;) {
    name.push_back(kHexDigits[(suffix >> (4 * digit)) & 0xF]);
  }
  name += kTemporaryExtension;
  return target.parent_path() / name;
}

bool IsTemporaryFileOf(const std::string& name, const fs::path& target) {
  const std::string prefix = TemporaryPrefixFor(target);
  if (name.size() != prefix.size() + kSuffixDigits + kTemporaryExtension.size() ||
      name.compare(0, prefix.size(), prefix) != 0 ||
      name.compare(prefix.size() + kSuffixDigits, std::string::npos, kTemporaryExtension) != 0) {
    return false;
  }
  const std::string_view digits(name.data() + prefix.size(), kSuffixDigits);
  return digits.find_first_not_of(kHexDigits) == std::string_view::npos;
}

// A saver that dies between writing its temporary files and renaming them
// (killed, or the machine went down) leaves them behind for good. A save
// takes well under a second, so a temporary file of `target` untouched for
// an hour belongs to nobody any more; the next save of `target` removes
// it. Nothing else in the directory is looked at, and a file that cannot
// be examined is left alone.
constexpr auto kAbandonedAfter = std::chrono::hours(1);

void RemoveAbandonedTemporaries(const fs::path& target) {
  std::error_code error;
  const auto now = fs::file_time_type::clock::now();
  for (fs::directory_iterator entry(DirectoryOf(target), error), end; !error && entry != end;
       entry.increment(error)) {
    if (!IsTemporaryFileOf(entry->path().filename().string(), target)) continue;
    std::error_code time_error;
    const auto written = fs::last_write_time(entry->path(), time_error);
    if (time_error || now - written < kAbandonedAfter) continue;
    ActiveFileSystem().remove_file(entry->path());
  }
}

// The file that `path` names once symbolic links are followed (the link
// need not lead to a file yet). A save writes the file a link leads to and
// leaves the link in place. A chain of links too long to follow is left
// as it is and fails to be read.
fs::path FollowLinks(fs::path path) {
  constexpr int kMostLinks = 40;
  for (int link = 0; link < kMostLinks; ++link) {
    std::error_code error;
    if (!fs::is_symlink(fs::symlink_status(path, error)) || error) return path;
    const fs::path leads_to = fs::read_symlink(path, error);
    if (error) return path;
    path = leads_to.is_absolute() ? leads_to : path.parent_path() / leads_to;
  }
  return path;
}

// Writes `contents` into a new temporary file beside `target` and flushes
// it to disk; it takes the permissions and owner of `target` when that
// exists (`keep_attributes`). Nothing is left behind on failure, and
// `failure` says what went wrong.
std::optional<fs::path> WriteTemporaryFile(const fs::path& target, std::string_view contents,
                                           bool keep_attributes, std::string* failure) {
  const FileSystemCalls& calls = ActiveFileSystem();
  const fs::path temporary = TemporaryPathFor(target);
  os::FileHandle file = 0;
  if (!calls.create_new_file(temporary, &file)) {
    *failure = FailureOf(temporary, "cannot create the new file");
    return std::nullopt;
  }
  if (keep_attributes) calls.keep_attributes_of(target, file);

  bool written = true;
  while (written && !contents.empty()) {
    const std::ptrdiff_t count = calls.write_to_file(file, contents.data(), contents.size());
    written = count > 0 && static_cast<std::size_t>(count) <= contents.size();
    if (written) contents.remove_prefix(static_cast<std::size_t>(count));
  }
  if (!written) *failure = FailureOf(temporary, "cannot write the new file");
  const bool synced = written && calls.sync_file(file);
  if (written && !synced) *failure = FailureOf(temporary, "cannot flush the new file to disk");
  const bool closed = calls.close_file(file);
  if (synced && !closed) *failure = FailureOf(temporary, "cannot close the new file");
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
  } else if (std::string ignored;
             const auto temporary = WriteTemporaryFile(target, old.contents, true, &ignored)) {
    if (!calls.replace_file(*temporary, target)) calls.remove_file(*temporary);
  }
  calls.sync_directory(DirectoryOf(target));
}

}  // namespace

bool ReplaceFilesAtomically(std::span<const FileReplacement> files, std::string* failure) {
  std::string ignored;
  if (failure == nullptr) failure = &ignored;
  if (files.empty()) return true;
  const FileSystemCalls& calls = ActiveFileSystem();

  std::vector<fs::path> targets;
  std::vector<fs::path> directories;
  std::vector<OldFile> old_files(files.size());
  for (std::size_t i = 0; i < files.size(); ++i) {
    targets.push_back(FollowLinks(files[i].path));
    const fs::path directory = DirectoryOf(targets[i]);
    if (std::find(directories.begin(), directories.end(), directory) == directories.end()) {
      directories.push_back(directory);
    }
    std::string reason;
    switch (ReadWholeFile(targets[i], old_files[i].contents, kMaxOldFileSize, &reason)) {
      case ReadOutcome::kRead:
        old_files[i].existed = true;
        break;
      case ReadOutcome::kMissing:
        break;
      case ReadOutcome::kTooBig:
        *failure = targets[i].string() + ": larger than any configuration file: left as it is";
        return false;
      case ReadOutcome::kFailed:
        *failure =
            targets[i].string() +
            ": cannot read what it holds now (kept in case the save fails half way): " + reason;
        return false;
    }
  }

  for (const auto& target : targets) RemoveAbandonedTemporaries(target);

  std::vector<fs::path> temporaries;
  for (std::size_t i = 0; i < files.size(); ++i) {
    auto temporary =
        WriteTemporaryFile(targets[i], files[i].contents, old_files[i].existed, failure);
    if (!temporary) {
      for (const auto& written : temporaries) calls.remove_file(written);
      return false;
    }
    temporaries.push_back(std::move(*temporary));
  }

  std::size_t replaced = 0;
  while (replaced < files.size() && calls.replace_file(temporaries[replaced], targets[replaced])) {
    ++replaced;
  }
  if (replaced < files.size()) {
    *failure = FailureOf(targets[replaced], "cannot put the new file in its place");
  }
  bool synced = replaced == files.size();
  for (std::size_t d = 0; synced && d < directories.size(); ++d) {
    synced = calls.sync_directory(directories[d]);
    if (!synced) *failure = FailureOf(directories[d], "cannot flush the directory to disk");
  }
  if (synced) return true;
  for (std::size_t i = replaced; i < files.size(); ++i) calls.remove_file(temporaries[i]);
  for (std::size_t i = replaced; i-- > 0;) Restore(targets[i], old_files[i]);
  return false;
}

}  // namespace kha::historian
