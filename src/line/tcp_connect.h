// A TCP connection to HOST:PORT made within a deadline, for the network
// backend: a refused or silent server is an open that fails promptly.
#pragma once

#include <cstdint>

#include "line/first_error.h"

namespace tarvex::line {

// Connects to `host_port` ("HOST:PORT", "[IPv6]:PORT") before CLOCK_MONOTONIC
// reads `deadline_ns`. Yields a non-blocking, close-on-exec socket without
// Nagle's delay, or -1 with the system's reason kept in `error` (EINVAL for
// a name that is not HOST:PORT, ENXIO for a host that does not resolve,
// ETIMEDOUT for a server that does not answer in time).
int tcp_connect(const char* host_port, std::uint64_t deadline_ns, FirstError& error);

}  // namespace tarvex::line
