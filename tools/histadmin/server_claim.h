// The one `histadmin serve` of a region. Two started at once would both
// find no region and set it up, the second emptying what the first had
// just loaded; so a server claims the region machine-wide before it looks
// for one, and holds the claim for its life. The system drops the claim
// when the process ends, however it ends: nothing is left to clear away.
//
// Linux: a listening unix socket bound to an abstract name made from the
// section's name (with the test prefix), e.g.
// "@kestihistadmin-serve/KESTICORE_HISTADMIN"; abstract names belong to
// the network namespace, and any process in it can see who holds one.
// Windows: a named mutex that must not exist yet.
#pragma once

#include <string>

namespace kha::histadmin {

class ServerClaim {
 public:
  // Takes the claim; held() tells whether it got it.
  ServerClaim();
  ~ServerClaim();
  ServerClaim(const ServerClaim&) = delete;
  ServerClaim& operator=(const ServerClaim&) = delete;

  bool held() const { return held_; }
  // When not held: who holds it, as far as can be told, for a message.
  const std::string& refusal() const { return refusal_; }
  // Lets go of the connections of refused servers that asked who holds
  // the claim (they queue up otherwise); for a holder's idle loop.
  void DropCallers();

 private:
  long long handle_ = -1;  // socket, or the mutex handle on Windows
  bool held_ = false;
  std::string refusal_;
};

}  // namespace kha::histadmin
