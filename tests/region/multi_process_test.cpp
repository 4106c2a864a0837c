// The region shared between processes: children (this test binary run
// again in a child role) attach to the parent's region, write, lock, die
// while holding the lock, and race each other opening and closing it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "kestihistadmin.h"
#include "platform/platform.h"
#include "support/child_process.h"
#include "support/region_fixture.h"
#include "support/watchdog.h"

namespace fs = std::filesystem;

namespace {

using kha::test::Child;
using kha::test::DetachCompletely;
using kha::test::Watchdog;

constexpr uint32_t kSize = 100000;

// Exit codes of the children: which step went wrong.
enum ChildExit {
  kChildOk = 0,
  kAttachFailed = 10,
  kWrongValue,
  kAccessFailed,
  kNotExclusive,
  kUsage
};

bool Exists(const fs::path& path) {
  std::error_code error;
  return fs::exists(path, error);
}

void Touch(const fs::path& path) { std::ofstream(path) << getpid() << "\n"; }

int32_t ReadCounter() {
  KestiHistAdminTuningData tuning;
  if (GetKestiHistAdminTuningData(&tuning) != KHA_OK) return -1;
  return tuning.TuningValues14To40[0];
}

// One increment of a counter in the tuning block, as a read, a pause and a
// write: any other writer inside the same lock would lose an update.
int32_t IncrementCounter() {
  KestiHistAdminTuningData tuning;
  if (GetKestiHistAdminTuningData(&tuning) != KHA_OK) return kAccessFailed;
  const int32_t value = tuning.TuningValues14To40[0];
  std::this_thread::yield();
  tuning.TuningValues14To40[0] = value + 1;
  return PutKestiHistAdminTuningData(&tuning) == KHA_OK ? kChildOk : kAccessFailed;
}

[[noreturn]] void SleepForever() {
  for (;;) pause();
}

// ---------------------------------------------------------------- roles

// Checks the parent's value and answers with value + 1.
int EchoRole(const std::vector<std::string>& args) {
  if (args.size() != 1) return kUsage;
  if (AttachToKestiHistAdminSharedMemory() != KHA_OK) return kAttachFailed;
  KestiHistAdminTuningData tuning;
  if (GetKestiHistAdminTuningData(&tuning) != KHA_OK) return kAccessFailed;
  const int32_t expected = std::stoi(args[0]);
  if (tuning.TuningValue1 != expected) return kWrongValue;
  tuning.TuningValues3To11[0] = expected + 1;
  if (PutKestiHistAdminTuningData(&tuning) != KHA_OK) return kAccessFailed;
  return DetachFromKestiHistAdminSharedMemory() == KHA_OK ? kChildOk : kAccessFailed;
}
KHA_CHILD_ROLE("echo", EchoRole);

// Increments the counter `args[0]` times, each under the lock.
int IncrementRole(const std::vector<std::string>& args) {
  if (args.size() != 1) return kUsage;
  if (AttachToKestiHistAdminSharedMemory() != KHA_OK) return kAttachFailed;
  const int times = std::stoi(args[0]);
  for (int i = 0; i < times; ++i) {
    LockHistAdminMutex();
    const int32_t result = IncrementCounter();
    UnlockHistAdminMutex();
    if (result != kChildOk) return result;
  }
  return DetachFromKestiHistAdminSharedMemory() == KHA_OK ? kChildOk : kAccessFailed;
}
KHA_CHILD_ROLE("increment", IncrementRole);

// Takes the lock, says so through the file `args[0]`, and waits to be
// killed while holding it (twice: the hold is re-entrant).
int HoldLockForeverRole(const std::vector<std::string>& args) {
  if (args.size() != 1) return kUsage;
  if (AttachToKestiHistAdminSharedMemory() != KHA_OK) return kAttachFailed;
  LockHistAdminMutex();
  LockHistAdminMutex();
  IncrementCounter();
  Touch(args[0]);
  SleepForever();
}
KHA_CHILD_ROLE("hold-lock-forever", HoldLockForeverRole);

// Attaches, says so through the file `args[0]`, and either waits to be
// killed ("die") or detaches once the file `args[1]` exists.
int AttachAndWaitRole(const std::vector<std::string>& args) {
  if (args.size() != 2) return kUsage;
  if (AttachToKestiHistAdminSharedMemory() != KHA_OK) return kAttachFailed;
  Touch(args[0]);
  if (args[1] == "die") SleepForever();
  const auto give_up = std::chrono::steady_clock::now() + kha::test::kHangBound;
  while (!Exists(args[1]) && std::chrono::steady_clock::now() < give_up) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return DetachFromKestiHistAdminSharedMemory() == KHA_OK ? kChildOk : kAccessFailed;
}
KHA_CHILD_ROLE("attach-and-wait", AttachAndWaitRole);

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
  const fs::path dir = args[0];
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

// ---------------------------------------------------------------- parent side

class MultiProcess : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::path(testing::TempDir()) / "khamp.XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    DetachCompletely();
    std::error_code error;
    fs::remove_all(dir_, error);
  }

  fs::path File(const std::string& name) const { return dir_ / name; }

  // Waits until `path` exists while `child` runs; false if the child ends
  // first (or the bound passes).
  static bool WaitForFile(const fs::path& path, Child& child) {
    const auto give_up = std::chrono::steady_clock::now() + kha::test::kHangBound;
    while (!Exists(path)) {
      if (!child.Running() || std::chrono::steady_clock::now() > give_up) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
  }

  static int WaitBounded(Child& child, const char* what) {
    Watchdog watchdog(what);
    return child.Wait();
  }

  // Names in /dev/shm that belong to this test process's objects.
  static std::vector<std::string> OurShmNames() {
    const char* prefix = std::getenv(kha::platform::kNamePrefixVariable);
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator("/dev/shm")) {
      const std::string name = entry.path().filename().string();
      if (prefix != nullptr && name.rfind(prefix, 0) == 0) names.push_back(name);
    }
    return names;
  }

  fs::path dir_;
};

TEST_F(MultiProcess, ChildSeesTheParentsWritesAndWritesBack) {
  ASSERT_EQ(SetupAndAttachToKestiHistAdminSharedMemory(kSize), KHA_OK);
  KestiHistAdminTuningData tuning{};
  tuning.TuningValue1 = 1234;
  ASSERT_EQ(PutKestiHistAdminTuningData(&tuning), KHA_OK);
  Child child("echo", {"1234"});
  ASSERT_EQ(WaitBounded(child, "echo child"), kChildOk);
  ASSERT_EQ(GetKestiHistAdminTuningData(&tuning), KHA_OK);
  EXPECT_EQ(tuning.TuningValues3To11[0], 1235);
}

TEST_F(MultiProcess, LockExcludesOtherProcesses) {
  ASSERT_EQ(SetupAndAttachToKestiHistAdminSharedMemory(kSize), KHA_OK);
  constexpr int kChildren = 3;
  constexpr int kIncrements = 300;
  std::vector<std::unique_ptr<Child>> children;
  for (int c = 0; c < kChildren; ++c) {
    children.push_back(std::make_unique<Child>(
        "increment", std::vector<std::string>{std::to_string(kIncrements)}));
  }
  for (int i = 0; i < kIncrements; ++i) {
    LockHistAdminMutex();
    EXPECT_EQ(IncrementCounter(), kChildOk);
    UnlockHistAdminMutex();
  }
  for (auto& child : children) EXPECT_EQ(WaitBounded(*child, "increment child"), kChildOk);
  EXPECT_EQ(ReadCounter(), (kChildren + 1) * kIncrements);
}

TEST_F(MultiProcess, ReentrantHoldKeepsOthersOutUntilTheLastUnlock) {
  ASSERT_EQ(SetupAndAttachToKestiHistAdminSharedMemory(kSize), KHA_OK);
  LockHistAdminMutex();
  LockHistAdminMutex();
  UnlockHistAdminMutex();  // still held once
  Child child("increment", {"1"});
  // The child cannot get in while the parent holds the lock. The pause
  // only gives a wrong lock the chance to show itself.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_TRUE(child.Running());
  EXPECT_EQ(ReadCounter(), 0);
  UnlockHistAdminMutex();
  EXPECT_EQ(WaitBounded(child, "increment child after unlock"), kChildOk);
  EXPECT_EQ(ReadCounter(), 1);
}

TEST_F(MultiProcess, LockOfAKilledHolderIsTakenOverByTheNextLocker) {
  ASSERT_EQ(SetupAndAttachToKestiHistAdminSharedMemory(kSize), KHA_OK);
  Child holder("hold-lock-forever", {File("locked").string()});
  ASSERT_TRUE(WaitForFile(File("locked"), holder));
  // A second child waits for the lock behind the holder.
  Child next("increment", {"1"});
  holder.Kill();
  EXPECT_EQ(holder.Wait(), 128 + SIGKILL);
  EXPECT_EQ(WaitBounded(next, "locker after a killed holder"), kChildOk);
  {
    Watchdog watchdog("parent lock after a killed holder");
    LockHistAdminMutex();
    // The region is as the dead holder left it, plus the next locker's
    // increment.
    EXPECT_EQ(ReadCounter(), 2);
    UnlockHistAdminMutex();
  }
}

TEST_F(MultiProcess, LockOfAThreadThatEndedHoldingItIsTakenOver) {
  ASSERT_EQ(SetupAndAttachToKestiHistAdminSharedMemory(kSize), KHA_OK);
  std::thread([] {
    LockHistAdminMutex();
    LockHistAdminMutex();
    IncrementCounter();
  }).join();
  {
    Watchdog watchdog("lock after its holding thread ended");
    LockHistAdminMutex();
    EXPECT_EQ(ReadCounter(), 1);
    UnlockHistAdminMutex();
  }
  // Taken over once, it is an ordinary lock again, for other processes too.
  Child child("increment", {"5"});
  EXPECT_EQ(WaitBounded(child, "child after a takeover"), kChildOk);
  EXPECT_EQ(ReadCounter(), 6);
}

TEST_F(MultiProcess, RegionLivesWhileAnyHolderRemains) {
  ASSERT_EQ(SetupAndAttachToKestiHistAdminSharedMemory(kSize), KHA_OK);
  Child child("attach-and-wait", {File("attached").string(), File("release").string()});
  ASSERT_TRUE(WaitForFile(File("attached"), child));
  ASSERT_EQ(DetachFromKestiHistAdminSharedMemory(), KHA_OK);
  // The child still holds it: attach finds it, with its contents.
  ASSERT_EQ(AttachToKestiHistAdminSharedMemory(), KHA_OK);
  uint32_t size = 0;
  EXPECT_EQ(GetKestiHistAdminHeader(&size, nullptr, nullptr, nullptr, nullptr), KHA_OK);
  EXPECT_EQ(size, kSize);
  ASSERT_EQ(DetachFromKestiHistAdminSharedMemory(), KHA_OK);
  Touch(File("release"));
  EXPECT_EQ(WaitBounded(child, "detaching child"), kChildOk);
  EXPECT_EQ(AttachToKestiHistAdminSharedMemory(), KHA_OPEN_MUTEX_FAILED);
  EXPECT_TRUE(OurShmNames().empty());
}

TEST_F(MultiProcess, RegionIsGoneWhenTheLastHolderDied) {
  ASSERT_EQ(SetupAndAttachToKestiHistAdminSharedMemory(kSize), KHA_OK);
  ASSERT_EQ(PutKestiHistAdminHeader(0xFFFFFFFFu, -1, 5, -1, -1), KHA_OK);
  Child child("attach-and-wait", {File("attached").string(), "die"});
  ASSERT_TRUE(WaitForFile(File("attached"), child));
  ASSERT_EQ(DetachFromKestiHistAdminSharedMemory(), KHA_OK);
  child.Kill();
  child.Wait();
  EXPECT_EQ(AttachToKestiHistAdminSharedMemory(), KHA_OPEN_MUTEX_FAILED);
  EXPECT_EQ(DetachFromKestiHistAdminSharedMemory(), KHA_NOT_MAPPED);
  // A new set-up starts from a fresh, zeroed region, and leaves nothing
  // behind once detached.
  ASSERT_EQ(SetupAndAttachToKestiHistAdminSharedMemory(kSize), KHA_OK);
  KestiHistAdminTuningData tuning;
  ASSERT_EQ(GetKestiHistAdminTuningData(&tuning), KHA_OK);
  EXPECT_EQ(tuning.TuningValues14To40[0], 0);
  ASSERT_EQ(DetachFromKestiHistAdminSharedMemory(), KHA_OK);
  EXPECT_TRUE(OurShmNames().empty());
}

TEST_F(MultiProcess, OpenCloseChurnNeverSplitsOneNameIntoTwoObjects) {
  constexpr int kChildren = 4;
  constexpr int kRounds = 150;
  std::vector<std::unique_ptr<Child>> children;
  for (int c = 0; c < kChildren; ++c) {
    children.push_back(std::make_unique<Child>(
        "churn", std::vector<std::string>{dir_.string(), std::to_string(kRounds)}));
  }
  for (auto& child : children) ASSERT_EQ(WaitBounded(*child, "churn child"), kChildOk);

  struct Hold {
    std::string process;
    long long start, end;
    unsigned long mutex, section;
  };
  std::vector<Hold> holds;
  for (const auto& entry : fs::directory_iterator(dir_)) {
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
  EXPECT_TRUE(OurShmNames().empty());
}

TEST_F(MultiProcess, ObjectsAreOpenToEveryAccountWhateverTheUmask) {
  const mode_t previous = umask(077);
  const int32_t result = SetupAndAttachToKestiHistAdminSharedMemory(kSize);
  umask(previous);
  ASSERT_EQ(result, KHA_OK);
  const std::vector<std::string> names = OurShmNames();
  ASSERT_EQ(names.size(), 2u);
  for (const std::string& name : names) {
    struct stat status {};
    ASSERT_EQ(::stat(("/dev/shm/" + name).c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0666u) << name;
  }
  const char* prefix = std::getenv(kha::platform::kNamePrefixVariable);
  ASSERT_NE(prefix, nullptr);
  EXPECT_TRUE(Exists(std::string("/dev/shm/") + prefix + "KESTICORE_HISTADMIN"));
  EXPECT_TRUE(Exists(std::string("/dev/shm/") + prefix + "KESTICORE_HISTADMIN_MUTEX"));
  ASSERT_EQ(DetachFromKestiHistAdminSharedMemory(), KHA_OK);
  EXPECT_TRUE(OurShmNames().empty());
}

}  // namespace
