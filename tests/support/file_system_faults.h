// The configuration library's file-system calls made to fail one at a time,
// for the tests of atomic saves: counts the calls of each step and fails
// call `fail_at` of `fail_step` (fail_at 0: none fails). Writes take at
// most `write_limit` bytes at a time (0: no limit), to exercise short
// writes. Sweep() fails each call of a save in turn. Header-only: the test
// binaries that use it link the library.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstddef>
#include <filesystem>
#include <string>

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

  // Fails, one run at a time, every call of every step that a good run
  // makes: counts the calls of one run that nothing fails, then for each
  // step and each of its calls runs prepare() unharmed, run() with that
  // call failing, and check(step, call, result) with the operating
  // system's calls back. Writes take at most `limit` bytes at a time.
  // Returns the calls of the good run.
  template <typename Prepare, typename Run, typename Check>
  static std::array<int, kStepCount> Sweep(std::size_t limit, Prepare prepare, Run run,
                                           Check check) {
    prepare();
    Install(kCreate, 0);
    write_limit = limit;
    EXPECT_EQ(run(), 0) << "a save that nothing fails";
    const std::array<int, kStepCount> good = calls;
    Remove();
    for (int step = 0; step < kStepCount; ++step) {
      for (int at = 1; at <= good[static_cast<std::size_t>(step)]; ++at) {
        SCOPED_TRACE(std::string(kStepNames[step]) + " call " + std::to_string(at));
        prepare();
        Install(static_cast<FileSystemStep>(step), at);
        write_limit = limit;
        const auto result = run();
        Remove();
        check(static_cast<FileSystemStep>(step), at, result);
      }
    }
    return good;
  }
};

}  // namespace kha::test
