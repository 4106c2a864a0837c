// Every free seat at this process's HistAdmin mutex taken at once, as
// another account may take them, so that no new handle can have one.
// POSIX only.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include "platform/posix/posix_objects.h"
#include "region/process_state.h"

namespace kha::test {

// A description of the mutex object (close-on-exec) holding the lock of
// every seat nobody held; closing it frees them. -1 when the process has
// no mutex handle or the description cannot be opened.
inline int TakeEveryFreeSeat() {
  const platform::MutexObject* mutex = HistAdminProcess().mutex.load();
  if (mutex == nullptr) return -1;
  const int fd = platform::posix::OpenAnotherDescription(mutex->object);
  for (uint32_t seat = 0; fd >= 0 && seat < platform::posix::kSeats; ++seat) {
    struct flock request {};
    request.l_type = F_WRLCK;
    request.l_whence = SEEK_SET;
    request.l_start = platform::posix::kSeatLockBase + seat;
    request.l_len = 1;
    (void)::fcntl(fd, F_OFD_SETLK, &request);  // a seat held by another stays its
  }
  return fd;
}

}  // namespace kha::test
