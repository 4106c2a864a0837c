// Another account holds the lifetime code's locks for as long as it likes
// (anyone may flock what it can open): set-up and attach give up after
// their bounded wait with their own result codes, instead of hanging. A
// hang is caught by the test's time-out. Run alone: while the guard is
// held here, every set-up on the machine waits.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "kestihistadmin.h"
#include "platform/object_names.h"
#include "platform/platform.h"
#include "support/spawned_program.h"

namespace {

using kha::test::SpawnedProgram;

// flock(1) holding LOCK_EX on `path` until its standard input ends, as
// another account where this process may switch (the fault does not need
// one: a flock of the same account blocks as well).
class HeldLock {
 public:
  explicit HeldLock(const std::string& path)
      : holder_(Command({"flock", "--exclusive", path, "-c", "echo held; read line"})) {
    std::string line;
    held_ = holder_.started() && holder_.ReadLine(&line) && line == "held";
  }
  bool held() const { return held_; }
  void Release() {
    holder_.CloseInput();
    holder_.Wait();
  }

 private:
  static std::vector<std::string> Command(const std::vector<std::string>& command) {
    return kha::test::CanRunAsOtherAccounts()
               ? kha::test::AsAccount(kha::test::kOtherAccount, command)
               : command;
  }
  SpawnedProgram holder_;
  bool held_ = false;
};

TEST(HeldGuard, SetupAndAttachGiveUpWhileAnotherHoldsTheGuard) {
  HeldLock guard("/dev/shm");
  ASSERT_TRUE(guard.held());
  EXPECT_EQ(SetupAndAttachToKestiHistAdminSharedMemory(65536), KHA_CREATE_MUTEX_FAILED);
  EXPECT_EQ(AttachToKestiHistAdminSharedMemory(), KHA_OPEN_MUTEX_FAILED);
  guard.Release();
  // Nothing of the failed calls stays behind.
  EXPECT_EQ(SetupAndAttachToKestiHistAdminSharedMemory(65536), KHA_OK);
  EXPECT_EQ(DetachFromKestiHistAdminSharedMemory(), KHA_OK);
}

// An open (which takes objects of any account, as an attach must take the
// server's) waits for the object's lock only so long.
TEST(HeldGuard, OpenGivesUpOnAnObjectAnotherHoldsExclusively) {
  using kha::platform::OsPlatform;
  const std::string path =
      "/dev/shm/" + kha::platform::ObjectNameWithoutNamespace(
                        kha::platform::ObjectName(kha::platform::kHistAdminMutexName));
  {
    HeldLock object(path);
    ASSERT_TRUE(object.held());
    const auto opened = OsPlatform().OpenMutex(kha::platform::kHistAdminMutexName);
    ASSERT_FALSE(opened.ok());
    EXPECT_EQ(opened.failure().step, kha::platform::Step::kOpenMutex);
    EXPECT_EQ(opened.failure().error, EWOULDBLOCK);
    object.Release();
  }
  ::unlink(path.c_str());
}

}  // namespace
