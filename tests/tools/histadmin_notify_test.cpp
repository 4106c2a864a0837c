// histadmin serve under a service manager: READY=1 on NOTIFY_SOCKET only
// once the region exists, STOPPING=1 on SIGTERM, then exit 0 with the
// region's objects gone (as kestihistadmin.service relies on).
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

extern char** environ;

namespace {

std::string Receive(int fd) {
  char text[256];
  const ssize_t got = ::recv(fd, text, sizeof text, 0);
  return got > 0 ? std::string(text, static_cast<std::size_t>(got)) : std::string("(nothing)");
}

TEST(HistadminNotify, ReadyOnceServingStoppingOnSigterm) {
  const std::string tag = "khanotify" + std::to_string(::getpid()) + "_";
  const std::string socket_path = "/tmp/" + tag + ".sock";
  ::unlink(socket_path.c_str());
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(fd, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, socket_path.c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  const timeval timeout{30, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);

  ::setenv("NOTIFY_SOCKET", socket_path.c_str(), 1);
  ::setenv("KESTIHISTADMIN_NAME_PREFIX", tag.c_str(), 1);
  char program[] = KHA_HISTADMIN_PATH;
  char serve[] = "serve", size[] = "--size", bytes[] = "64k";
  char* argv[] = {program, serve, size, bytes, nullptr};
  pid_t child = 0;
  ASSERT_EQ(::posix_spawn(&child, program, nullptr, nullptr, argv, environ), 0);
  ::unsetenv("NOTIFY_SOCKET");

  EXPECT_EQ(Receive(fd), "READY=1");
  const std::filesystem::path region = "/dev/shm/" + tag + "KESTICORE_HISTADMIN";
  EXPECT_TRUE(std::filesystem::exists(region)) << "READY=1 before the region exists";
  ::kill(child, SIGTERM);
  EXPECT_EQ(Receive(fd), "STOPPING=1");
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_FALSE(std::filesystem::exists(region));
  EXPECT_FALSE(std::filesystem::exists(region.string() + "_MUTEX"));
  ::close(fd);
  ::unlink(socket_path.c_str());
}

}  // namespace
