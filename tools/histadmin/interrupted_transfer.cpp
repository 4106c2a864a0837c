#include "interrupted_transfer.h"

#include <cstring>

#include "platform/platform.h"
#include "region/journal_layout.h"
#include "region_names.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kha::histadmin {
namespace {

// The journal's header as another process left it; false when it cannot
// be read.
bool ReadJournalHeader(JournalHeader* header) {
  const std::string name = RegionObjectName(platform::kHistAdminJournalName);
#if defined(_WIN32)
  HANDLE section = ::OpenFileMappingA(FILE_MAP_READ, FALSE, ("Global\\" + name).c_str());
  if (section == nullptr) return false;
  const void* view = ::MapViewOfFile(section, FILE_MAP_READ, 0, 0, sizeof(JournalHeader));
  if (view != nullptr) {
    std::memcpy(header, view, sizeof(JournalHeader));
    ::UnmapViewOfFile(view);
  }
  ::CloseHandle(section);
  return view != nullptr;
#else
  // Whatever another account left under the name: never a wait on a FIFO
  // or a device, only a plain file is read.
  const int fd =
      ::open(("/dev/shm/" + name).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat status {};
  const bool read =
      ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) &&
      ::pread(fd, header, sizeof(JournalHeader), 0) == static_cast<ssize_t>(sizeof(JournalHeader));
  ::close(fd);
  return read;
#endif
}

}  // namespace

std::string InterruptedTransfer() {
  JournalHeader header{};
  if (!ReadJournalHeader(&header) || header.Magic != kJournalMagic ||
      header.Layout != kJournalLayout) {
    return "";
  }
  switch (static_cast<TransferKind>(header.Interrupted)) {
    case TransferKind::kLoadFromMarn:
      return "load running";
    case TransferKind::kLoadFromConfig:
      return "load config";
    case TransferKind::kSaveToConfig:
      return "save";
    case TransferKind::kNone:
      break;
  }
  return "";
}

}  // namespace kha::histadmin
