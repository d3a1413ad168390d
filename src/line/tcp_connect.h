// A TCP connection to HOST:PORT made within a deadline, for the network
// backend: a refused or silent server is an open that fails promptly.
#pragma once

#include <cstdint>

#include "line/first_error.h"
#include "line/socket.h"

namespace tarvex::line {

// Connects to `host_port` ("HOST:PORT", "[IPv6]:PORT") before the monotonic
// clock reads `deadline_ns`. Yields a socket as net::connect_one makes it
// (net::close() gives it back), or kNoSocket with the system's reason kept
// in `error` (net::kBadName for a name that is not HOST:PORT, the
// resolver's for a host that does not resolve, net::kTimedOut for a server
// that does not answer in time).
net::Socket tcp_connect(const char* host_port, std::uint64_t deadline_ns, FirstError& error);

}  // namespace tarvex::line
