#include "support/temporary_directory.h"

#include <fstream>
#include <random>
#include <system_error>
#include <thread>

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

bool Exists(const std::string& path) {
  std::error_code error;
  return std::filesystem::exists(path, error);
}

bool Touch(const std::string& path) { return std::ofstream(path).good(); }

bool WaitForFile(const std::string& path, std::chrono::seconds bound) {
  const auto until = std::chrono::steady_clock::now() + bound;
  while (!Exists(path)) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return true;
}

}  // namespace kha::test
