// Named POSIX shared-memory objects with the lifetime of Windows kernel
// objects: an object exists while any process holds a handle to it, and
// when the last handle goes (closed, or its process died) the object is
// gone, so that a later open fails as if it had never existed.
//
// How: every handle holds a shared flock on its object's descriptor, and
// every create, open and close runs under one machine-wide guard (an
// exclusive flock on the /dev/shm directory itself). Under the guard:
// - a closer that can take its object's flock exclusively is the last
//   holder and unlinks the name;
// - a creator or opener that finds a name nobody holds (its holders all
//   died) treats it as gone: the opener unlinks it and fails, the creator
//   starts it afresh from zero bytes;
// - a creator initialises a new object completely before it releases the
//   guard, so nobody ever sees a half-built one.
// The guard is held only for a few system calls, and the kernel drops it
// when its holder dies. Every wait for it, and for an object's shared
// lock, ends after a few seconds: any account can hold a flock on what it
// can open, and none may stop the others' set-ups and attaches for good.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace kha::platform::posix {

struct SharedObject {
  int fd = -1;
  std::string name;  // POSIX name, "/..."
  std::size_t size = 0;
  // False when the handle holds no share of the object's lifetime of its
  // own: in the child of a fork whose descriptor could not be opened
  // afresh. Releasing it then only closes the descriptor.
  bool own_share = true;
  // Every live handle of this process (for the child of a fork).
  SharedObject* previous = nullptr;
  SharedObject* next = nullptr;
};

enum class Disposition { kCreateOrOpen, kOpenExisting };

// Creates or opens the object `name` (a POSIX name, "/..."). A new object
// gets `size` zero bytes and permission bits `mode` (whatever the umask),
// then `initialise` runs on a temporary mapping of it; an existing one
// keeps its size and contents. A create refuses an existing object that
// belongs to an account other than this process's or root's (EPERM): the
// server side sets its objects up and fills them, and an account that had
// made them beforehand could remove their names under it later, so that
// the next set-up made a second mutex beside the first. An open takes
// whatever the server made. Returns false (errno set) on failure, with
// nothing held; EWOULDBLOCK when the guard or the object's lock was held
// by another for the whole wait.
bool AcquireSharedObject(const std::string& name, Disposition disposition, std::size_t size,
                         unsigned mode, const std::function<bool(void*)>& initialise,
                         SharedObject* object);

// Releases a handle obtained from AcquireSharedObject; the last one
// removes the name. Without the guard (held by another for the whole
// wait) the handle is closed all the same and the name left behind.
void ReleaseSharedObject(SharedObject* object);

// Around fork(), called by the backend's fork handlers: the list of live
// handles is held across the fork; in the child, every handle gets an
// open file description of its own for the same object, with a share of
// the object's lifetime of its own. An inherited descriptor shares its
// description, and with it the flock and any record lock, with the
// parent: a child that released it could end the parent's share (and
// remove the names under a live parent), and a child that locked through
// it would find the parent's lock its own.
void BeforeForkOfObjects();
void AfterForkOfObjectsInParent();
void AfterForkOfObjectsInChild();

// Another open file description of the object `object` has open, for
// the kernel locks that must not be shared with a description a child of
// fork inherited: a new descriptor (close-on-exec), or -1 with errno set.
int OpenAnotherDescription(const SharedObject& object);

// "Global\\NAME" (after the test prefix) -> "/NAME".
std::string PosixObjectName(const char* windows_name);

}  // namespace kha::platform::posix
