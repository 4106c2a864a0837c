#include "server_claim.h"

#include "platform/platform.h"
#include "region_names.h"

#if defined(_WIN32)
#include <windows.h>
#elif defined(__linux__)
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#else
#error "no one-server claim for this system"
#endif

namespace kha::histadmin {
namespace {

const std::string kTaken = "a HistAdmin region is already running under another `histadmin serve`";

}  // namespace

#if defined(_WIN32)

ServerClaim::ServerClaim() {
  const std::string name =
      "Global\\" + RegionObjectName(platform::kHistAdminSectionName) + "_SERVER";
  HANDLE mutex = ::CreateMutexA(nullptr, FALSE, name.c_str());
  const DWORD error = ::GetLastError();
  if (mutex != nullptr && error != ERROR_ALREADY_EXISTS) {
    handle_ = reinterpret_cast<long long>(mutex);
    held_ = true;
    return;
  }
  if (mutex != nullptr) ::CloseHandle(mutex);
  // Denied: it exists, made by another account.
  refusal_ = mutex != nullptr || error == ERROR_ACCESS_DENIED
                 ? kTaken + "; it holds the named mutex " + name + ": stop it first"
                 : "cannot claim the region for this server: error " + std::to_string(error) +
                       " creating the named mutex " + name;
}

ServerClaim::~ServerClaim() {
  if (handle_ != -1) ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

void ServerClaim::DropCallers() {}

#else

namespace {

struct AbstractAddress {
  sockaddr_un address{};
  socklen_t length = 0;
  std::string shown;  // "@name", as ss(8) shows it
};

AbstractAddress ClaimAddress() {
  AbstractAddress claim;
  const std::string name =
      "kestihistadmin-serve/" + RegionObjectName(platform::kHistAdminSectionName);
  claim.shown = "@" + name;
  claim.address.sun_family = AF_UNIX;
  // A leading zero byte, then the name, without a terminating one.
  const std::size_t length = std::min(name.size(), sizeof claim.address.sun_path - 1);
  std::memcpy(claim.address.sun_path + 1, name.data(), length);
  claim.length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
  return claim;
}

// Who listens on `claim`: the server that holds it, or a process that took
// the name for another purpose.
std::string Holder(const AbstractAddress& claim) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return "";
  std::string holder;
  ucred credentials{};
  socklen_t size = sizeof credentials;
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&claim.address), claim.length) == 0 &&
      ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) == 0) {
    holder = " (pid " + std::to_string(credentials.pid) + ", uid " +
             std::to_string(credentials.uid) + ")";
  }
  ::close(fd);
  return holder;
}

}  // namespace

ServerClaim::ServerClaim() {
  const AbstractAddress claim = ClaimAddress();
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    refusal_ =
        "cannot claim the region for this server: socket: " + std::string(std::strerror(errno));
    return;
  }
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&claim.address), claim.length) == 0 &&
      ::listen(fd, 8) == 0) {
    handle_ = fd;
    held_ = true;
    return;
  }
  const int error = errno;
  ::close(fd);
  refusal_ = error == EADDRINUSE ? kTaken + Holder(claim) + "; it holds " + claim.shown +
                                       " (`ss -xlp` shows who does): stop it first"
                                 : "cannot claim the region for this server: " + claim.shown +
                                       ": " + std::strerror(error);
}

ServerClaim::~ServerClaim() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
}

void ServerClaim::DropCallers() {
  if (handle_ < 0) return;
  for (int caller;
       (caller = ::accept4(static_cast<int>(handle_), nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) {
    ::close(caller);
  }
}

#endif

}  // namespace kha::histadmin
