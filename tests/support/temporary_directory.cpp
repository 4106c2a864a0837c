#include "support/temporary_directory.h"

#include <random>
#include <system_error>

namespace kha::test {

TemporaryDirectory::TemporaryDirectory(const std::string& stem) {
  std::error_code error;
  const std::filesystem::path base = std::filesystem::temp_directory_path(error);
  if (error) return;
  std::random_device seed;
  std::mt19937_64 random(static_cast<uint64_t>(seed()) << 32 ^ seed());
  // create_directory reports whether it made the directory: a name some
  // other process took meanwhile is simply passed over.
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::filesystem::path candidate = base / (stem + "-" + std::to_string(random()));
    if (std::filesystem::create_directory(candidate, error)) {
      path_ = candidate;
      return;
    }
  }
}

TemporaryDirectory::~TemporaryDirectory() {
  std::error_code ignored;
  if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

}  // namespace kha::test
