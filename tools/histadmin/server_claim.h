// The one `histadmin serve` of a region. Two started at once would both
// find no region and set it up, the second emptying what the first had
// just loaded; so a server claims the region before it looks for one, and
// holds the claim for its life. The system drops the claim when the
// process ends, however it ends.
//
// POSIX: an exclusive flock on a file beside the region's objects,
// /dev/shm/KESTICORE_HISTADMIN_SERVER (with the test prefix): it reaches
// every process that can reach the region, also across network and other
// namespaces that share /dev/shm (the shipped service runs in a network
// namespace of its own). Windows: a named mutex that must not exist yet.
#pragma once

#include <string>

namespace kha::histadmin {

class ServerClaim {
 public:
  // Takes the claim; held() tells whether it got it.
  ServerClaim();
  // Lets go of it; on POSIX the file goes too, where this account may
  // remove it.
  ~ServerClaim();
  ServerClaim(const ServerClaim&) = delete;
  ServerClaim& operator=(const ServerClaim&) = delete;

  bool held() const { return held_; }
  // When not held: why, and who holds it as far as can be told, for a
  // message.
  const std::string& refusal() const { return refusal_; }

 private:
  long long handle_ = -1;  // descriptor, or the mutex handle on Windows
  bool held_ = false;
  std::string refusal_;
  std::string name_;
};

}  // namespace kha::histadmin
