// Which kernel objects the processes of a test hold, on a board in a
// scratch directory: every attached process pins up the identity (device
// and inode) of the section and the mutex object it holds and compares it
// with what every other live process pinned up. Two live processes that
// hold different objects under the one name count as a split. A process
// takes its card down before it detaches; a killed process leaves it up,
// and cards of processes that hold nothing any more (dead, zombies, or
// being killed, whose locks are gone first) are passed over.
#pragma once

#include <cstdint>
#include <string>

namespace kha::test::reliability {

struct HeldObjects {
  uint64_t section_device = 0, section_inode = 0;
  uint64_t mutex_device = 0, mutex_inode = 0;
  bool operator==(const HeldObjects&) const = default;
};

// The objects behind this process's attachment; all 0 when not attached.
HeldObjects ObjectsHeldByThisProcess();

class Board {
 public:
  explicit Board(std::string directory) : directory_(std::move(directory)) {}

  // Pins up `mine` and returns how many other live processes pinned up
  // different objects.
  int Join(const HeldObjects& mine);
  // Takes this process's card down.
  void Leave();
  // Number of cards of live processes (for the parent).
  int LiveCards();

 private:
  std::string directory_;
};

// True when `pid` names a process that has not ended (a zombie has).
bool ProcessIsLive(long pid);

}  // namespace kha::test::reliability
