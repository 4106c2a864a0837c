// Tells the service manager how `histadmin serve` stands, for a systemd
// unit of Type=notify: READY=1 once the region is set up and loaded,
// STOPPING=1 when a signal ends it. The datagram goes to the socket named
// by NOTIFY_SOCKET; without it (not run by systemd, or on Windows) nothing
// is sent.
#pragma once

#include <string_view>

namespace kha::histadmin {

// Sends `state` ("READY=1", ...); false when NOTIFY_SOCKET names a socket
// the message could not be sent to.
bool NotifyServiceManager(std::string_view state);

// Whether a service manager started this process and waits to be told
// (NOTIFY_SOCKET is set).
bool UnderServiceManager();

}  // namespace kha::histadmin
