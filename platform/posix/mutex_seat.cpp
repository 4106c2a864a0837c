#include "platform/posix/mutex_seat.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace kha::platform::posix {
namespace {

// The seat's byte, as an open-file-description lock request of `type`.
struct flock SeatRequest(uint32_t seat, short type) {
  struct flock request {};
  request.l_type = type;
  request.l_whence = SEEK_SET;
  request.l_start = kSeatLockBase + static_cast<off_t>(seat);
  request.l_len = 1;
  return request;  // l_pid 0, as an open-file-description lock asks
}

// fcntl(fd, command, request), through interruptions: 0 or an errno value.
int SeatCall(int fd, int command, struct flock* request) {
  for (;;) {
    if (::fcntl(fd, command, request) == 0) return 0;
    if (errno != EINTR) return errno;
  }
}

// The seat's next generation; one whose low bits are all 0 is skipped, so
// that no holder value is 0.
uint32_t NextGeneration(uint32_t* generation) {
  for (;;) {
    const uint32_t next = __atomic_add_fetch(generation, 1, __ATOMIC_ACQ_REL);
    if (GenerationOf(next) != 0) return next;
  }
}

}  // namespace

int TakeSeat(const SharedObject& object, SharedMutexBlock* block, Seat* seat) {
  const int fd = OpenAnotherDescription(object);
  if (fd < 0) return errno;
  const pid_t pid = ::getpid();
  const auto first = static_cast<uint32_t>(pid) % kSeats;
  for (uint32_t i = 0; i < kSeats; ++i) {
    const uint32_t index = (first + i) % kSeats;
    struct flock request = SeatRequest(index, F_WRLCK);
    const int error = SeatCall(fd, F_OFD_SETLK, &request);
    if (error == EAGAIN || error == EACCES) continue;  // taken
    if (error != 0) {
      ::close(fd);
      return error;
    }
    const uint32_t generation = NextGeneration(&block->Generations[index]);
    __atomic_store_n(&block->Pids[index], static_cast<int32_t>(pid), __ATOMIC_RELAXED);
    seat->fd = fd;
    seat->holder = HolderValue(index, generation);
    return 0;
  }
  ::close(fd);
  return EUSERS;
}

void LeaveSeat(Seat* seat) {
  if (seat->fd >= 0) ::close(seat->fd);
  seat->fd = -1;
  seat->holder = 0;
}

int HolderIsGone(const Seat& mine, const SharedMutexBlock* block, uint32_t holder, bool* gone) {
  const uint32_t seat = SeatOf(holder);
  if (mine.holder != 0 && seat == SeatOf(mine.holder)) {
    // This handle's own seat: a holder of another generation had it before.
    *gone = holder != mine.holder;
    return 0;
  }
  struct flock request = SeatRequest(seat, F_WRLCK);
  if (const int error = SeatCall(mine.fd, F_OFD_GETLK, &request); error != 0) return error;
  *gone = request.l_type == F_UNLCK ||
          GenerationOf(__atomic_load_n(&block->Generations[seat], __ATOMIC_ACQUIRE)) !=
              GenerationOf(holder);
  return 0;
}

}  // namespace kha::platform::posix
