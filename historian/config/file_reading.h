// Reading a whole configuration file into memory.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>

namespace kha::historian {

enum class ReadOutcome {
  kRead,     // `contents` holds the whole file
  kMissing,  // there is no such file
  kTooBig,   // it holds more than the limit: not read, or not kept
  kFailed,   // it exists but could not be read
};

// Reads at most `limit` bytes and a little more: a file whose size shows
// it is bigger is not read at all. When it could not be read, `reason`
// (if given) says why, in the system's words where the system refused.
ReadOutcome ReadWholeFile(const std::filesystem::path& path, std::string& contents,
                          std::size_t limit, std::string* reason = nullptr);

}  // namespace kha::historian
