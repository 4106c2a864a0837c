#include "service_notify.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>

#if !defined(_WIN32)
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#endif

namespace kha::histadmin {

bool UnderServiceManager() {
  const char* name = std::getenv("NOTIFY_SOCKET");
  return name != nullptr && name[0] != '\0';
}

#if defined(_WIN32)

bool NotifyServiceManager(std::string_view) { return true; }

#else

bool NotifyServiceManager(std::string_view state) {
  const char* name = std::getenv("NOTIFY_SOCKET");
  if (name == nullptr || name[0] == '\0') return true;
  const std::size_t length = std::strlen(name);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  // "/path" or "@name" (an abstract socket: a leading zero byte).
  if ((name[0] != '/' && name[0] != '@') || length >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, name, length);
  if (name[0] == '@') address.sun_path[0] = '\0';
  const auto address_length =
      static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + length + (name[0] == '/' ? 1 : 0));
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const ssize_t sent = ::sendto(fd, state.data(), state.size(), MSG_NOSIGNAL,
                                reinterpret_cast<const sockaddr*>(&address), address_length);
  ::close(fd);
  return sent == static_cast<ssize_t>(state.size());
}

#endif

}  // namespace kha::histadmin
