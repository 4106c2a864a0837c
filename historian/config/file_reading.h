// Reading a whole configuration file into memory.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>

namespace kha::historian {

// No configuration file of ours comes near this; anything bigger is not one.
inline constexpr std::size_t kMaxConfigFileSize = 64u << 20;

enum class ReadOutcome {
  kRead,     // `contents` holds the whole file
  kMissing,  // there is no such file
  kFailed,   // it exists but could not be read, or is too big
};

ReadOutcome ReadWholeFile(const std::filesystem::path& path, std::string& contents);

}  // namespace kha::historian
