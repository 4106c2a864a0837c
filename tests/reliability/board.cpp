#include "board.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/posix/posix_objects.h"
#include "region/process_state.h"

namespace kha::test::reliability {
namespace {

// Exclusive flock on the board's lock file for the life of the object.
class BoardLock {
 public:
  explicit BoardLock(const std::string& directory)
      : fd_(::open((directory + "/lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
    if (fd_ >= 0) ::flock(fd_, LOCK_EX);
  }
  ~BoardLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  BoardLock(const BoardLock&) = delete;
  BoardLock& operator=(const BoardLock&) = delete;

 private:
  int fd_;
};

void Identify(int fd, uint64_t* device, uint64_t* inode) {
  struct stat status {};
  if (fd >= 0 && ::fstat(fd, &status) == 0) {
    *device = status.st_dev;
    *inode = status.st_ino;
  }
}

std::string CardOf(const std::string& directory, long pid) {
  return directory + "/card." + std::to_string(pid);
}

bool ReadCard(const std::string& path, HeldObjects* objects) {
  std::ifstream card(path);
  return static_cast<bool>(card >> objects->section_device >> objects->section_inode >>
                           objects->mutex_device >> objects->mutex_inode);
}

// Whether process `pid` still holds its share of the object `device` and
// `inode` (the flock every attached process keeps on its section and its
// mutex object), as /proc/locks lists it. A process that is being killed
// lets its locks go before it shows as a zombie; by then it holds nothing
// and is no party to a split.
bool HoldsShareOf(long pid, uint64_t device, uint64_t inode) {
  std::ifstream locks("/proc/locks");
  std::string line;
  while (std::getline(locks, line)) {
    if (line.find("->") != std::string::npos) continue;  // a waiter, not a holder
    char kind[16] = {};
    long holder = 0;
    unsigned major = 0, minor = 0;
    unsigned long number = 0;
    if (std::sscanf(line.c_str(), "%*d: %15s %*s %*s %ld %x:%x:%lu", kind, &holder, &major, &minor,
                    &number) == 5 &&
        std::string(kind) == "FLOCK" && holder == pid && number == inode &&
        ::makedev(major, minor) == device) {
      return true;
    }
  }
  return false;
}

}  // namespace

HeldObjects ObjectsHeldByThisProcess() {
  HeldObjects held;
  ProcessState& process = HistAdminProcess();
  if (const platform::SectionObject* section = process.section.load()) {
    Identify(section->object.fd, &held.section_device, &held.section_inode);
  }
  if (const platform::MutexObject* mutex = process.mutex.load()) {
    Identify(mutex->object.fd, &held.mutex_device, &held.mutex_inode);
  }
  return held;
}

bool ProcessIsLive(long pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return false;
  // "pid (command) S ...": the state follows the last ')'.
  const std::size_t close = line.rfind(')');
  if (close == std::string::npos || close + 2 >= line.size()) return false;
  const char state = line[close + 2];
  return state != 'Z' && state != 'X' && state != 'x';
}

int Board::Join(const HeldObjects& mine) {
  BoardLock lock(directory_);
  const long self = ::getpid();
  {
    std::ofstream card(CardOf(directory_, self));
    card << mine.section_device << ' ' << mine.section_inode << ' ' << mine.mutex_device << ' '
         << mine.mutex_inode << '\n';
  }
  int splits = 0;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(directory_, error)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("card.", 0) != 0) continue;
    const long pid = std::stol(name.substr(5));
    if (pid == self || !ProcessIsLive(pid)) continue;
    HeldObjects theirs;
    if (ReadCard(entry.path().string(), &theirs) && !(theirs == mine) &&
        (HoldsShareOf(pid, theirs.section_device, theirs.section_inode) ||
         HoldsShareOf(pid, theirs.mutex_device, theirs.mutex_inode))) {
      ++splits;
    }
  }
  return splits;
}

void Board::Leave() {
  BoardLock lock(directory_);
  std::remove(CardOf(directory_, ::getpid()).c_str());
}

int Board::LiveCards() {
  BoardLock lock(directory_);
  int live = 0;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(directory_, error)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("card.", 0) == 0 && ProcessIsLive(std::stol(name.substr(5)))) ++live;
  }
  return live;
}

}  // namespace kha::test::reliability
