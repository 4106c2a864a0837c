// The moment between a server's set-up of the region and the end of its
// own load. The region exists from the set-up on, so another process could
// attach and change it in that moment, and then the server's load would
// run over the change (a load from the running historian empties the
// tables) after the other process had been told it succeeded. So
// `histadmin serve` closes a gate before its set-up and opens it once its
// load is done, and every other histadmin command that attaches waits
// while it is closed (Attachment, session.h; `histadmin wait`).
//
// A command checks the gate after its attach has succeeded: the region it
// found exists, so the server that set it up closed the gate before; an
// open gate then means that server's load is over (or the server is gone).
//
// POSIX: an exclusive flock on /dev/shm/KESTICORE_HISTADMIN_SETUP (with
// the test prefix), dropped by the system however the server ends.
// Windows: a named mutex of that name, owned by the server.
#pragma once

#include <string>

namespace kha::histadmin {

// The server's side. Held by the one server (ServerClaim), so only
// commands probing the gate can be in its way, and only for a moment.
class SetUpGate {
 public:
  // Closes the gate; held() tells whether it could.
  SetUpGate();
  // Opens it, if still closed.
  ~SetUpGate();
  SetUpGate(const SetUpGate&) = delete;
  SetUpGate& operator=(const SetUpGate&) = delete;

  bool held() const { return handle_ != -1; }
  const std::string& refusal() const { return refusal_; }
  // Lets the waiting commands in: the server's load is done.
  void Open();

 private:
  long long handle_ = -1;  // descriptor, or the mutex handle on Windows
  std::string refusal_;
  std::string name_;
};

// True while a server holds the gate closed.
bool ServerIsSettingUp();

}  // namespace kha::histadmin
