#include "server_setup_gate.h"

#include <chrono>
#include <thread>

#include "region/tools_door.h"
#include "region_names.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "lock_file.h"
#endif

namespace kha::histadmin {
namespace {

std::string GateName() {
  return RegionObjectName(inspection::FixedObjectName(inspection::RegionObject::kSection)) +
         "_SETUP";
}

// A command that probes the gate holds it for a moment only: the server
// tries again for a while before it gives up on a gate kept from it.
constexpr int kCloseAttempts = 200;
constexpr auto kCloseRetryPause = std::chrono::milliseconds(25);

}  // namespace

#if defined(_WIN32)

SetUpGate::SetUpGate() : name_("Global\\" + GateName()) {
  for (int attempt = 0; attempt < kCloseAttempts; ++attempt) {
    HANDLE mutex = ::CreateMutexA(nullptr, TRUE, name_.c_str());
    const DWORD error = ::GetLastError();
    if (mutex == nullptr) {
      refusal_ = "cannot close the set-up gate " + name_ + ": error " + std::to_string(error);
      return;
    }
    // Opened, not made, while a command has it open to probe it: owned
    // only once the wait below gets it.
    if (error != ERROR_ALREADY_EXISTS ||
        ::WaitForSingleObject(mutex, 0) != static_cast<DWORD>(WAIT_TIMEOUT)) {
      handle_ = reinterpret_cast<long long>(mutex);
      return;
    }
    ::CloseHandle(mutex);
    std::this_thread::sleep_for(kCloseRetryPause);
  }
  refusal_ = "cannot close the set-up gate " + name_ + ": another process keeps holding it";
}

SetUpGate::~SetUpGate() { Open(); }

void SetUpGate::Open() {
  if (handle_ == -1) return;
  auto* mutex = reinterpret_cast<HANDLE>(handle_);
  // Owned once by the creation, and once more by a wait after it.
  while (::ReleaseMutex(mutex)) {
  }
  ::CloseHandle(mutex);
  handle_ = -1;
}

bool ServerIsSettingUp() {
  HANDLE mutex = ::OpenMutexA(SYNCHRONIZE, FALSE, ("Global\\" + GateName()).c_str());
  if (mutex == nullptr) return false;
  const DWORD waited = ::WaitForSingleObject(mutex, 0);
  if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) ::ReleaseMutex(mutex);
  ::CloseHandle(mutex);
  return waited == static_cast<DWORD>(WAIT_TIMEOUT);
}

#else

SetUpGate::SetUpGate() : name_("/dev/shm/" + GateName()) {
  for (int attempt = 0; attempt < kCloseAttempts; ++attempt) {
    const int fd = OpenLockFile(name_);
    if (fd < 0) {
      refusal_ = "cannot close the set-up gate " + name_ + ": " + std::strerror(errno);
      return;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && StillNamed(fd, name_)) {
      handle_ = fd;
      return;
    }
    ::close(fd);
    std::this_thread::sleep_for(kCloseRetryPause);
  }
  refusal_ = "cannot close the set-up gate " + name_ +
             ": another process keeps a lock on it (`lslocks` shows which)";
}

SetUpGate::~SetUpGate() { Open(); }

void SetUpGate::Open() {
  if (handle_ == -1) return;
  // Removed while still locked, as the server's claim is; in the sticky
  // /dev/shm a file of another account stays, and does no harm.
  ::unlink(name_.c_str());
  ::close(static_cast<int>(handle_));
  handle_ = -1;
}

bool ServerIsSettingUp() {
  const int fd =
      ::open(("/dev/shm/" + GateName()).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat status {};
  bool closed = false;
  if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode)) {
    if (::flock(fd, LOCK_SH | LOCK_NB) == 0) {
      (void)::flock(fd, LOCK_UN);
    } else {
      closed = errno == EWOULDBLOCK;
    }
  }
  ::close(fd);
  return closed;
}

#endif

}  // namespace kha::histadmin
