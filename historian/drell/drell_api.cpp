// The C interface of drell: checks the caller's pointers and buffers and
// lets no exception out. Nothing is ever written past a 256-byte path
// buffer or the 32-byte name buffer, and what is written is terminated.
#include "config/c_strings.h"
#include "config/history_config.h"
#include "drell.h"
#include "drell/drell_library.h"
#include "drell/history_paths.h"
#include "os/os.h"

using kha::historian::ConfigFileKind;
using kha::historian::CopyToBuffer;
using kha::historian::kDrellBadArgument;
using kha::historian::kDrellInternalError;
using kha::historian::kDrellOk;
using kha::historian::kDrellTooLong;
using kha::historian::TheDrellLibrary;

namespace {

template <typename Body>
int Guarded(Body body) noexcept {
  try {
    return body();
  } catch (...) {
    return kDrellInternalError;
  }
}

// The path in a 256-byte buffer: up to its terminating zero, or its first
// 255 bytes when there is none.
std::string_view PathInBuffer(const char* buffer, bool& complete) {
  const auto terminated = kha::historian::TerminatedString(buffer, DRELL_PATH_SIZE);
  complete = terminated.has_value();
  return terminated ? *terminated : std::string_view(buffer, DRELL_PATH_SIZE - 1);
}

}  // namespace

extern "C" {

DRELL_API int DRELL_CALL getConfigPathAndTimestamp(char* path, void* timestamp) {
  return Guarded(
      [&] { return TheDrellLibrary().PathAndTimestamp(ConfigFileKind::kConfig, path, timestamp); });
}

DRELL_API int DRELL_CALL getTuningPathAndTimestamp(char* path, void* timestamp) {
  return Guarded(
      [&] { return TheDrellLibrary().PathAndTimestamp(ConfigFileKind::kTuning, path, timestamp); });
}

DRELL_API int DRELL_CALL get_repos_name(int source, int repository_index, char* name) {
  return Guarded([&] { return TheDrellLibrary().RepositoryName(source, repository_index, name); });
}

DRELL_API int DRELL_CALL fixHistoryFilePath(char* path, int length, int mode) {
  return Guarded([&] {
    if (path == nullptr || mode != 1) return static_cast<int>(kDrellBadArgument);
    bool complete = false;
    std::string_view text = PathInBuffer(path, complete);
    if (length >= 0 && static_cast<std::size_t>(length) < text.size()) {
      text = text.substr(0, static_cast<std::size_t>(length));
      complete = true;
    }
    const std::string normalised = kha::historian::NormaliseHistoryPath(text);
    CopyToBuffer(normalised, path, DRELL_PATH_SIZE);
    return static_cast<int>(complete ? kDrellOk : kDrellTooLong);
  });
}

DRELL_API int DRELL_CALL ConvertUNC2LocalPath(const char* path, char* local_path) {
  return Guarded([&] {
    if (local_path == nullptr) return static_cast<int>(kDrellBadArgument);
    if (path == nullptr) {
      local_path[0] = '\0';
      return static_cast<int>(kDrellBadArgument);
    }
    bool complete = false;
    const std::string original(PathInBuffer(path, complete));
    const auto local = kha::historian::LocalPathOf(original, kha::historian::os::HostName(),
                                                   TheDrellLibrary().Shares());
    if (local && local->size() <= kha::historian::kMaxPathLength) {
      CopyToBuffer(*local, local_path, DRELL_PATH_SIZE);
      return static_cast<int>(complete ? kDrellOk : kDrellTooLong);
    }
    CopyToBuffer(original, local_path, DRELL_PATH_SIZE);
    return static_cast<int>(!complete || local ? kDrellTooLong : kDrellOk);
  });
}

}  // extern "C"
