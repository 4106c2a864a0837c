#include "config/file_reading.h"

#include <fstream>
#include <system_error>

#include "os/os.h"

namespace kha::historian {

ReadOutcome ReadWholeFile(const std::filesystem::path& path, std::string& contents,
                          std::size_t limit, std::string* reason) {
  std::string ignored;
  if (reason == nullptr) reason = &ignored;
  contents.clear();
  std::error_code error;
  const auto status = std::filesystem::status(path, error);
  if (status.type() == std::filesystem::file_type::not_found) return ReadOutcome::kMissing;
  if (error) {
    *reason = error.message();
    return ReadOutcome::kFailed;
  }
  if (!std::filesystem::is_regular_file(status)) {
    *reason = "not a regular file";
    return ReadOutcome::kFailed;
  }
  if (const auto size = std::filesystem::file_size(path, error); !error && size > limit) {
    return ReadOutcome::kTooBig;
  }

  // The file may grow while it is read: the limit holds for what is read.
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    *reason = os::LastErrorText();
    return ReadOutcome::kFailed;
  }
  char chunk[16384];
  while (file.read(chunk, sizeof chunk) || file.gcount() > 0) {
    contents.append(chunk, static_cast<std::size_t>(file.gcount()));
    if (contents.size() > limit) {
      contents.clear();
      return ReadOutcome::kTooBig;
    }
  }
  if (file.bad()) {
    *reason = os::LastErrorText();
    contents.clear();
    return ReadOutcome::kFailed;
  }
  return ReadOutcome::kRead;
}

}  // namespace kha::historian
