// The configuration library's file-system calls made to fail one at a time,
// for the tests of atomic saves: counts the calls of each step and fails
// call `fail_at` of `fail_step` (fail_at 0: none fails). Writes take at
// most `write_limit` bytes at a time (0: no limit), to exercise short
// writes. Header-only: the test binaries that use it link the library.
#pragma once

#include <array>
#include <cstddef>
#include <filesystem>

#include "config/file_system.h"
#include "os/os.h"

namespace kha::test {

enum FileSystemStep { kCreate, kWrite, kSync, kClose, kReplace, kSyncDirectory, kStepCount };
inline constexpr const char* kStepNames[] = {"create", "write",   "sync",
                                             "close",  "replace", "sync dir"};

struct FileSystemFaults {
  static inline std::array<int, kStepCount> calls{};
  static inline FileSystemStep fail_step = kCreate;
  static inline int fail_at = 0;
  static inline std::size_t write_limit = 0;

  static bool Fails(FileSystemStep step) { return ++calls[step] == fail_at && step == fail_step; }

  static void Install(FileSystemStep step, int at) {
    namespace fs = std::filesystem;
    using historian::OsFileSystem;
    calls = {};
    fail_step = step;
    fail_at = at;
    auto& active = historian::ActiveFileSystem();
    active.create_new_file = [](const fs::path& path, historian::os::FileHandle* file) {
      return !Fails(kCreate) && OsFileSystem().create_new_file(path, file);
    };
    active.write_to_file = [](historian::os::FileHandle file, const char* data,
                              std::size_t size) -> std::ptrdiff_t {
      if (Fails(kWrite)) return -1;
      if (write_limit != 0 && size > write_limit) size = write_limit;
      return OsFileSystem().write_to_file(file, data, size);
    };
    active.sync_file = [](historian::os::FileHandle file) {
      return !Fails(kSync) && OsFileSystem().sync_file(file);
    };
    active.close_file = [](historian::os::FileHandle file) {
      // A failed close still closes: the handle is gone either way.
      const bool closed = OsFileSystem().close_file(file);
      return !Fails(kClose) && closed;
    };
    active.replace_file = [](const fs::path& from, const fs::path& to) {
      return !Fails(kReplace) && OsFileSystem().replace_file(from, to);
    };
    active.sync_directory = [](const fs::path& directory) {
      return !Fails(kSyncDirectory) && OsFileSystem().sync_directory(directory);
    };
  }

  // The operating system's calls again, and no write limit.
  static void Remove() {
    historian::ActiveFileSystem() = historian::OsFileSystem();
    write_limit = 0;
  }
};

}  // namespace kha::test
