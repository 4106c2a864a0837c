// The file-system steps of a save, as a table of plain functions. The
// libraries always call through ActiveFileSystem(); a test replaces single
// entries to make a chosen step fail and puts OsFileSystem() back after.
#pragma once

#include <cstddef>
#include <filesystem>

#include "os/os.h"

namespace kha::historian {

struct FileSystemCalls {
  bool (*create_new_file)(const std::filesystem::path& path, os::FileHandle* file);
  std::ptrdiff_t (*write_to_file)(os::FileHandle file, const char* data, std::size_t size);
  bool (*sync_file)(os::FileHandle file);
  bool (*close_file)(os::FileHandle file);
  bool (*replace_file)(const std::filesystem::path& from, const std::filesystem::path& to);
  bool (*sync_directory)(const std::filesystem::path& directory);
  bool (*remove_file)(const std::filesystem::path& path);
  void (*keep_attributes_of)(const std::filesystem::path& model, os::FileHandle file);
};

// The operating system's calls.
const FileSystemCalls& OsFileSystem();
// The calls in use (the operating system's unless a test changed them).
FileSystemCalls& ActiveFileSystem();

}  // namespace kha::historian
