// A look at the first bytes of one of the region's shared-memory objects,
// read-only, by name: for the tools' inspection of the region
// (region/tools_door.h), never for the library, which maps its objects
// through platform.h. Nothing is held, created or changed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kha::platform {

// Copies the first `length` bytes of the section named `name` (as this
// machine spells it, without "Global\") into `out`. False when there is
// no such section, it is shorter, or it cannot be read; on POSIX only a
// plain file under /dev/shm is read, so that a FIFO or a device that
// another account left under the name never makes the caller wait.
bool PeekSectionStart(const std::string& name, void* out, std::size_t length);

// The size of this build's mutex object; 0 where the mutex is no object
// of bytes (Windows).
uint64_t MutexObjectBytes();

// The process that the mutex named `name` says holds it, as the mutex's
// own shared bytes record it (every account may write them: a hint for
// people): its process id, 0 when they say nobody holds it, -1 when
// there is no such mutex or the backend cannot tell (a Windows mutex
// names no owner).
int64_t PeekMutexHolder(const std::string& name);

}  // namespace kha::platform
