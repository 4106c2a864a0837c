// The state of the drell stand-in. drell is a library of its own, beside
// marnuser, and does not share marnuser's memory: it reads the files of
// the configuration directory itself whenever it is asked, keeping the
// last parsed configuration of each source until the files' bytes change.
//   source 0: running.dat, or config.dat and tune.dat when there is none
//             (what marnuser's source 0 reads);
//   source 1: config.dat and tune.dat (what marn_read_hist_config reads;
//             the same as long as the files are not replaced in between).
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "config/config_file_kind.h"
#include "config/configuration_files.h"

namespace kha::historian {

// The library's results: 0 is success, any other value a failure.
enum DrellResult : int {
  kDrellOk = 0,
  kDrellBadArgument = 1,      // a null pointer, a bad source or mode
  kDrellOutOfRange = 2,       // an index beyond the configuration
  kDrellNoConfiguration = 3,  // the files are missing or malformed
  kDrellTooLong = 4,          // a path does not fit the 256-byte buffer
  kDrellFileError = 5,        // a file's time stamp cannot be read
  kDrellInternalError = 6,    // out of memory or another unexpected failure
};

class DrellLibrary {
 public:
  int PathAndTimestamp(ConfigFileKind kind, char* path, void* timestamp);
  int RepositoryName(int source, int repository_index, char* name);
  // Shares of shares.dat; none when it is missing or malformed.
  std::map<std::string, std::string> Shares();

 private:
  ConfigurationCache cache_;
  std::mutex shares_mutex_;
  std::optional<std::string> shares_text_;
  std::map<std::string, std::string> shares_;
};

DrellLibrary& TheDrellLibrary();

// The file's time of last change, in nanoseconds since 1970-01-01 00:00
// UTC; 0 when there is no such file, nothing when it cannot be read.
std::optional<int64_t> FileTimestamp(const std::filesystem::path& path);

// The 8 bytes of a time stamp, little-endian two's complement.
void StoreTimestamp(int64_t nanoseconds, void* bytes);

}  // namespace kha::historian
