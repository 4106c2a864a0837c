// A whole file's bytes, read or written at once (configuration files the
// tests prepare or compare).
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace kha::test {

// The file's bytes; "" when it cannot be read.
inline std::string ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << file.rdbuf();
  return std::move(bytes).str();
}

inline void WriteFileBytes(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

}  // namespace kha::test
