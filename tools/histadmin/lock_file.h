// Files under /dev/shm whose flock tells other histadmin processes how a
// server stands (server_claim.h, server_setup_gate.h). POSIX only.
#pragma once

#include <string>

namespace kha::histadmin {

// Opens the file `path`, made readable by every account (whatever the
// umask) when it is new, so that a process of any account can lock it.
// An existing file is opened without O_CREAT: the kernel may refuse to
// create over another account's file in the sticky /dev/shm
// (fs.protected_regular) although it may be opened. Without blocking: a
// FIFO left under the name by another account would wait for a writer
// for good (the caller refuses anything but a plain file). -1 with errno
// on failure.
int OpenLockFile(const std::string& path);

// Whether `fd` is still the file that `path` names: a server that went
// before may have removed the name after this one opened it.
bool StillNamed(int fd, const std::string& path);

}  // namespace kha::histadmin
