// The POSIX mutex: its line (a thread that lets the mutex go may take it
// back at once, but not past a waiter that has waited for a while), a
// holder whose seat was taken again, and what another account's bytes in
// the mutex object can do.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "platform/object_names.h"
#include "platform/platform.h"
#include "platform/posix/posix_objects.h"

namespace {

using kha::platform::LockOutcome;
using kha::platform::MutexObject;
using kha::platform::OsPlatform;
using kha::platform::posix::SharedMutexBlock;

// Two handles of one mutex in this process behave as two processes would.
class PosixMutex : public testing::Test {
 protected:
  void SetUp() override {
    const auto first = OsPlatform().CreateMutex(kha::platform::kHistAdminMutexName);
    ASSERT_TRUE(first.ok());
    first_ = first.value();
    const auto second = OsPlatform().OpenMutex(kha::platform::kHistAdminMutexName);
    ASSERT_TRUE(second.ok());
    second_ = second.value();
  }
  void TearDown() override {
    if (second_ != nullptr) OsPlatform().CloseMutex(second_);
    if (first_ != nullptr) OsPlatform().CloseMutex(first_);
  }

  MutexObject* first_ = nullptr;
  MutexObject* second_ = nullptr;
};

LockOutcome Lock(MutexObject* mutex) {
  const auto locked = OsPlatform().LockMutex(mutex);
  return locked.ok() ? locked.value() : LockOutcome::kFailed;
}

// `holder` holds; a thread waits through `waiter` long past the moment
// after which it is owed the mutex; `holder` lets go and comes straight
// back: the waiter goes first.
void ExpectTheWaiterGetsTheNextTurn(MutexObject* holder, MutexObject* waiter_handle) {
  ASSERT_EQ(Lock(holder), LockOutcome::kTaken);
  std::atomic<bool> waiter_had_it{false};
  std::thread waiter([&] {
    if (Lock(waiter_handle) != LockOutcome::kTaken) return;
    waiter_had_it = true;
    (void)OsPlatform().UnlockMutex(waiter_handle);
  });
  // Until the waiter heads the line (a head names its handle's seat).
  while (__atomic_load_n(&holder->block->Head, __ATOMIC_ACQUIRE) == 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_FALSE(waiter_had_it);
  ASSERT_TRUE(OsPlatform().UnlockMutex(holder).ok());
  ASSERT_EQ(Lock(holder), LockOutcome::kTaken);
  EXPECT_TRUE(waiter_had_it);
  EXPECT_TRUE(OsPlatform().UnlockMutex(holder).ok());
  waiter.join();
}

TEST_F(PosixMutex, AWaiterPassedOverForAMomentGetsTheNextTurn) {
  ExpectTheWaiterGetsTheNextTurn(first_, second_);
  // The same between two threads of one process on one handle.
  ExpectTheWaiterGetsTheNextTurn(first_, first_);
}

// A holder that died is known by its seat: free, or taken again since (a
// later generation). A process that holds the seat of the dead holder
// now, through a description of its own, must not keep the mutex held.
TEST_F(PosixMutex, AHolderWhoseSeatWasTakenAgainIsTakenOver) {
  int report[2];
  ASSERT_EQ(::pipe(report), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    // A handle of the child's own, taken and kept to the end.
    const auto mutex = OsPlatform().OpenMutex(kha::platform::kHistAdminMutexName);
    if (!mutex.ok() || Lock(mutex.value()) != LockOutcome::kTaken) ::_exit(2);
    const uint32_t holder = mutex.value()->self.load();
    ::_exit(::write(report[1], &holder, sizeof holder) == sizeof holder ? 0 : 3);
  }
  ::close(report[1]);
  uint32_t holder = 0;
  ASSERT_EQ(::read(report[0], &holder, sizeof holder), static_cast<ssize_t>(sizeof holder));
  ::close(report[0]);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  ASSERT_EQ(first_->block->Lock & kha::platform::posix::kHolderMask, holder);

  // Another process takes the dead holder's seat, as a new handle would.
  const uint32_t seat = kha::platform::posix::SeatOf(holder);
  const int fd = kha::platform::posix::OpenAnotherDescription(first_->object);
  ASSERT_GE(fd, 0);
  struct flock request {};
  request.l_type = F_WRLCK;
  request.l_whence = SEEK_SET;
  request.l_start = kha::platform::posix::kSeatLockBase + seat;
  request.l_len = 1;
  ASSERT_EQ(::fcntl(fd, F_OFD_SETLK, &request), 0);
  __atomic_add_fetch(&first_->block->Generations[seat], 1, __ATOMIC_ACQ_REL);

  EXPECT_EQ(Lock(first_), LockOutcome::kAbandoned);
  EXPECT_TRUE(OsPlatform().UnlockMutex(first_).ok());
  EXPECT_EQ(Lock(second_), LockOutcome::kTaken);
  EXPECT_TRUE(OsPlatform().UnlockMutex(second_).ok());
  ::close(fd);
}

// Every account may write the mutex object. Its bytes can make takers
// wait (a word that names a live holder that holds nothing) or let two
// holders in (a word set free under a holder); they never decide a hold
// for good: a holder value of nobody alive is taken over, a head that
// never takes is passed over, and bytes that fill the object whole are a
// mutex like any other to the next taker and to a new handle.
TEST_F(PosixMutex, AStrangersBytesHoldNobodyOutForGood) {
  const std::string path =
      "/dev/shm/" + kha::platform::ObjectNameWithoutNamespace(
                        kha::platform::ObjectName(kha::platform::kHistAdminMutexName));
  const int fd = ::open(path.c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  void* memory =
      ::mmap(nullptr, sizeof(SharedMutexBlock), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  ::close(fd);
  ASSERT_NE(memory, MAP_FAILED);
  auto* stranger = static_cast<SharedMutexBlock*>(memory);

  // A holder in a seat nobody has.
  const uint32_t mine = kha::platform::posix::SeatOf(first_->self.load());
  const uint32_t nobodys = (mine + kha::platform::posix::kSeats / 2) % kha::platform::posix::kSeats;
  stranger->Lock = kha::platform::posix::HolderValue(nobodys, 7);
  EXPECT_EQ(Lock(first_), LockOutcome::kAbandoned);
  EXPECT_TRUE(OsPlatform().UnlockMutex(first_).ok());

  // A head of the line that never takes its turn.
  stranger->Head = 0xA5A5A5A5;
  EXPECT_EQ(Lock(first_), LockOutcome::kTaken);
  EXPECT_TRUE(OsPlatform().UnlockMutex(first_).ok());

  // The whole object, while the second handle holds: the first waits
  // for nobody alive (the word names a seat nobody has)...
  ASSERT_EQ(Lock(second_), LockOutcome::kTaken);
  std::memset(stranger, 0xA5, sizeof(SharedMutexBlock));
  stranger->Lock = kha::platform::posix::HolderValue(nobodys, 0x1A5A5);
  EXPECT_EQ(Lock(first_), LockOutcome::kAbandoned);
  // ...which let two holders in; each lets go of its own hold only.
  EXPECT_TRUE(OsPlatform().UnlockMutex(second_).ok());
  EXPECT_TRUE(OsPlatform().UnlockMutex(first_).ok());
  EXPECT_EQ(Lock(second_), LockOutcome::kTaken);
  EXPECT_TRUE(OsPlatform().UnlockMutex(second_).ok());

  // Zeroed, the object is a free mutex, and a new handle takes it.
  std::memset(stranger, 0, sizeof(SharedMutexBlock));
  const auto third = OsPlatform().OpenMutex(kha::platform::kHistAdminMutexName);
  ASSERT_TRUE(third.ok());
  EXPECT_EQ(Lock(third.value()), LockOutcome::kTaken);
  EXPECT_TRUE(OsPlatform().UnlockMutex(third.value()).ok());
  OsPlatform().CloseMutex(third.value());
  ::munmap(memory, sizeof(SharedMutexBlock));
}

}  // namespace
