// The TCP connection of a network port, in each system's own socket API:
// socket_posix.cpp on Linux, socket_winsock.cpp on Windows (Winsock 2). The
// name's parsing and the resolving (tcp_connect.*), the telnet layer and the
// port itself are the same on both.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netdb.h>

#include <cerrno>
#endif

#include "line/first_error.h"

namespace tarvex::line::net {

// A socket, and the system's numbers for what a network port reports of its
// own: a server that did not answer in time, closed the connection, refused
// the com port option or turned the client away (the port is busy, as a COM
// port another program holds), and a name that is not HOST:PORT.
#if defined(_WIN32)
using Socket = SOCKET;
inline constexpr Socket kNoSocket = INVALID_SOCKET;
inline constexpr std::uint32_t kTimedOut = WSAETIMEDOUT;
inline constexpr std::uint32_t kConnectionReset = WSAECONNRESET;
inline constexpr std::uint32_t kOptionRefused = WSAEPROTONOSUPPORT;
inline constexpr std::uint32_t kPortBusy = ERROR_ACCESS_DENIED;
inline constexpr std::uint32_t kBadName = WSAEINVAL;
#else
using Socket = int;
inline constexpr Socket kNoSocket = -1;
inline constexpr std::uint32_t kTimedOut = ETIMEDOUT;
inline constexpr std::uint32_t kConnectionReset = ECONNRESET;
inline constexpr std::uint32_t kOptionRefused = EPROTONOSUPPORT;
inline constexpr std::uint32_t kPortBusy = EBUSY;
inline constexpr std::uint32_t kBadName = EINVAL;
#endif

// A connection that hears nothing from its server though it asks is dead
// after kSilenceLimitMs: the system probes a quiet one (after kKeepIdleMs,
// then every kKeepIntervalMs) and gives up data that stays unacknowledged
// as long. The port then hangs up with kTimedOut, as an unplugged adapter
// does, instead of waiting out a held port's limit on a link that is gone.
inline constexpr std::uint32_t kSilenceLimitMs = 10000;
inline constexpr std::uint32_t kKeepIdleMs = 4000;
inline constexpr std::uint32_t kKeepIntervalMs = 1000;

// The system's sockets, ready for one more connection (Winsock counts its
// users; nothing to do elsewhere). False, with the reason kept, when they
// cannot be; every true is matched by a stop(), which close() makes.
bool start(FirstError& error);
void stop();

// The resolver's failure (getaddrinfo's code) as the system's error.
std::uint32_t resolver_error(int code);

// A connection to one address, made before CLOCK_MONOTONIC (or the
// performance counter) reads `deadline_ns`: non-blocking, not inherited by
// the host's child processes, without Nagle's delay, dead after
// kSilenceLimitMs of silence. kNoSocket when it was
// not made, with the system's reason in `failure`.
Socket connect_one(const addrinfo& address, std::uint64_t deadline_ns, std::uint32_t& failure);

// What one send or receive moved: `bytes`, or none because none can move
// now (failure 0), or because the connection has failed (the system's
// error; kConnectionReset for a server that closed it).
struct Moved {
  std::size_t bytes = 0;
  std::uint32_t failure = 0;
};
Moved send_some(Socket socket, const std::uint8_t* bytes, std::size_t count);
Moved receive_some(Socket socket, std::uint8_t* bytes, std::size_t room);

// Waits at most `timeout_ms` until the socket can be read (or written);
// false when the time ran out first or a signal came.
enum class Ready { ToRead, ToWrite };
bool wait(Socket socket, Ready ready, int timeout_ms);

// Acknowledges what has come at once, not after the delayed-ack time: a
// server that holds a small segment until its last one is acknowledged
// (Nagle's rule) would otherwise hold a reply's bytes that long.
void acknowledge_at_once(Socket socket);

// Closes the socket, and stop()s.
void close(Socket socket);

}  // namespace tarvex::line::net
