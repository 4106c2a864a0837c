#include "config/file_reading.h"

#include <fstream>
#include <system_error>

namespace kha::historian {

ReadOutcome ReadWholeFile(const std::filesystem::path& path, std::string& contents) {
  contents.clear();
  std::error_code error;
  const auto status = std::filesystem::status(path, error);
  if (status.type() == std::filesystem::file_type::not_found) return ReadOutcome::kMissing;
  if (error || !std::filesystem::is_regular_file(status)) return ReadOutcome::kFailed;

  std::ifstream file(path, std::ios::binary);
  if (!file) return ReadOutcome::kFailed;
  char chunk[16384];
  while (file.read(chunk, sizeof chunk) || file.gcount() > 0) {
    contents.append(chunk, static_cast<std::size_t>(file.gcount()));
    if (contents.size() > kMaxConfigFileSize) {
      contents.clear();
      return ReadOutcome::kFailed;
    }
  }
  if (file.bad()) {
    contents.clear();
    return ReadOutcome::kFailed;
  }
  return ReadOutcome::kRead;
}

}  // namespace kha::historian
