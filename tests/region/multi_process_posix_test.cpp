// The region shared between processes, as the POSIX backend keeps it: the
// shared-memory objects that processes really map while they open and
// close one name at once, and the permissions of those objects.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "multi_process.h"
#include "platform/testing/name_prefix.h"
#include "support/spawned_program.h"

namespace {

using namespace kha::test::multi_process;
using kha::test::Child;
using kha::test::Exists;

// Inode numbers of this process's mappings of the two objects, from
// /proc/self/maps: which objects it is really on.
std::pair<unsigned long, unsigned long> MappedObjectInodes() {
  const char* prefix = std::getenv(kha::platform::kNamePrefixVariable);
  const std::string section =
      std::string("/dev/shm/") + (prefix ? prefix : "") + "KESTICORE_HISTADMIN";
  const std::string mutex = section + "_MUTEX";
  std::ifstream maps("/proc/self/maps");
  std::string line;
  unsigned long mutex_inode = 0, section_inode = 0;
  while (std::getline(maps, line)) {
    std::istringstream fields(line);
    std::string range, perms, offset, device, path;
    unsigned long inode = 0;
    fields >> range >> perms >> offset >> device >> inode >> path;
    if (path == mutex) mutex_inode = inode;
    if (path == section) section_inode = inode;
  }
  return {mutex_inode, section_inode};
}

long long NowNanoseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

// `args[1]` rounds of: set up (create or open) the region, check that the
// lock excludes everyone (an O_EXCL marker file in `args[0]`), note which
// objects this process was on and when, detach. The notes go to
// args[0]/holds.<pid>, one line per round: start end mutex-inode section-inode.
int ChurnRole(const std::vector<std::string>& args) {
  if (args.size() != 2) return kUsage;
  const std::filesystem::path dir = args[0];
  const int rounds = std::stoi(args[1]);
  std::ofstream holds(dir / ("holds." + std::to_string(getpid())));
  for (int round = 0; round < rounds; ++round) {
    if (SetupAndAttachToKestiHistAdminSharedMemory(kSize) != KHA_OK) return kAttachFailed;
    const long long start = NowNanoseconds();
    const auto [mutex_inode, section_inode] = MappedObjectInodes();
    LockHistAdminMutex();
    const std::string inside = (dir / "inside").string();
    const int marker = ::open(inside.c_str(), O_CREAT | O_EXCL | O_WRONLY, 0600);
    if (marker < 0) return kNotExclusive;
    ::close(marker);
    IncrementCounter();
    ::unlink(inside.c_str());
    UnlockHistAdminMutex();
    const long long end = NowNanoseconds();
    holds << start << " " << end << " " << mutex_inode << " " << section_inode << "\n";
    if (DetachFromKestiHistAdminSharedMemory() != KHA_OK) return kAccessFailed;
    if (round % 3 == 0) std::this_thread::yield();
  }
  return kChildOk;
}
KHA_CHILD_ROLE("churn", ChurnRole);

TEST_F(MultiProcess, OpenCloseChurnNeverSplitsOneNameIntoTwoObjects) {
  constexpr int kChildren = 4;
  constexpr int kRounds = 150;
  std::vector<std::unique_ptr<Child>> children;
  for (int c = 0; c < kChildren; ++c) {
    children.push_back(std::make_unique<Child>(
        "churn", std::vector<std::string>{scratch_.Path().string(), std::to_string(kRounds)}));
  }
  for (auto& child : children) ASSERT_EQ(WaitBounded(*child, "churn child"), kChildOk);

  struct Hold {
    std::string process;
    long long start, end;
    unsigned long mutex, section;
  };
  std::vector<Hold> holds;
  for (const auto& entry : std::filesystem::directory_iterator(scratch_.Path())) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("holds.", 0) != 0) continue;
    std::ifstream in(entry.path());
    Hold hold{name, 0, 0, 0, 0};
    while (in >> hold.start >> hold.end >> hold.mutex >> hold.section) holds.push_back(hold);
  }
  ASSERT_EQ(holds.size(), static_cast<size_t>(kChildren * kRounds));
  // Two processes attached at the same time were on the same objects.
  int overlaps = 0;
  for (size_t a = 0; a < holds.size(); ++a) {
    ASSERT_NE(holds[a].mutex, 0u);
    ASSERT_NE(holds[a].section, 0u);
    for (size_t b = a + 1; b < holds.size(); ++b) {
      if (holds[a].process == holds[b].process) continue;
      if (holds[a].start < holds[b].end && holds[b].start < holds[a].end) {
        ++overlaps;
        ASSERT_EQ(holds[a].mutex, holds[b].mutex);
        ASSERT_EQ(holds[a].section, holds[b].section);
      }
    }
  }
  RecordProperty("overlapping_holds", overlaps);
  EXPECT_TRUE(kha::test::LiveHistAdminObjects().empty());
}

TEST_F(MultiProcess, ObjectsAreOpenToEveryAccountWhateverTheUmask) {
  const mode_t previous = umask(077);
  const int32_t result = SetupAndAttachToKestiHistAdminSharedMemory(kSize);
  umask(previous);
  ASSERT_EQ(result, KHA_OK);
  const std::vector<std::string> names = kha::test::LiveHistAdminObjects();
  ASSERT_EQ(names.size(), 3u);
  for (const std::string& name : names) {
    struct stat status {};
    ASSERT_EQ(::stat(("/dev/shm/" + name).c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0666u) << name;
  }
  const char* prefix = std::getenv(kha::platform::kNamePrefixVariable);
  ASSERT_NE(prefix, nullptr);
  EXPECT_TRUE(Exists(std::string("/dev/shm/") + prefix + "KESTICORE_HISTADMIN"));
  EXPECT_TRUE(Exists(std::string("/dev/shm/") + prefix + "KESTICORE_HISTADMIN_MUTEX"));
  EXPECT_TRUE(Exists(std::string("/dev/shm/") + prefix + "KESTICORE_HISTADMIN_JOURNAL"));
  ASSERT_EQ(DetachFromKestiHistAdminSharedMemory(), KHA_OK);
  EXPECT_TRUE(kha::test::LiveHistAdminObjects().empty());
}

// The server side sets its objects up and fills them; an account that
// had made them beforehand could remove their names later (as their
// owner) and the next set-up would make a second mutex over the same
// region. A set-up takes only objects of its own account or root's; an
// attach takes the server's, whoever it is.
int SetUpOrAttach(const std::vector<std::string>& args) {
  if (args.size() != 1) return kUsage;
  const int32_t result = args[0] == "setup" ? SetupAndAttachToKestiHistAdminSharedMemory(kSize)
                                            : AttachToKestiHistAdminSharedMemory();
  if (result == KHA_CREATE_MUTEX_FAILED && errno == EPERM) return kNotExclusive;
  return result == KHA_OK ? kChildOk : kAccessFailed;
}
KHA_CHILD_ROLE("set-up-or-attach", SetUpOrAttach);

TEST_F(MultiProcess, ASetUpRefusesAnotherAccountsObjectsAnAttachTakesThem) {
  if (::geteuid() != 0) GTEST_SKIP() << "gives the objects to another account: needs root";
  ASSERT_EQ(SetupAndAttachToKestiHistAdminSharedMemory(kSize), KHA_OK);
  for (const std::string& name : kha::test::LiveHistAdminObjects()) {
    ASSERT_EQ(
        ::chown(("/dev/shm/" + name).c_str(), kha::test::kOtherAccount, kha::test::kOtherAccount),
        0)
        << name;
  }
  EXPECT_EQ(Child("set-up-or-attach", {"setup"}).Wait(), kNotExclusive);
  EXPECT_EQ(Child("set-up-or-attach", {"attach"}).Wait(), kChildOk);
}

}  // namespace
