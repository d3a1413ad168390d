// The network port's socket on Windows: Winsock 2 (socket.h). The DLL
// imports WS2_32 for it.
#if defined(_WIN32)

#include "line/socket.h"

#include <mstcpip.h>

#include "line/monotonic_clock.h"

#ifndef WSA_FLAG_NO_HANDLE_INHERIT
#define WSA_FLAG_NO_HANDLE_INHERIT 0x80
#endif
#ifndef SIO_TCP_SET_ACK_FREQUENCY
#define SIO_TCP_SET_ACK_FREQUENCY _WSAIOW(IOC_VENDOR, 23)
#endif
#ifndef TCP_MAXRT
#define TCP_MAXRT 5
#endif
#ifndef TCP_KEEPCNT
#define TCP_KEEPCNT 16
#endif

namespace tarvex::line::net {
namespace {

std::uint32_t last_socket_error() {
  return static_cast<std::uint32_t>(WSAGetLastError());
}

// select() on one socket; false when the time ran out first.
bool select_one(Socket socket, Ready ready, int timeout_ms, bool* failed = nullptr) {
  fd_set wanted;
  fd_set errors;
  FD_ZERO(&wanted);
  FD_ZERO(&errors);
  FD_SET(socket, &wanted);
  FD_SET(socket, &errors);
  timeval limit{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
  const int count = ::select(0, ready == Ready::ToRead ? &wanted : nullptr,
                             ready == Ready::ToWrite ? &wanted : nullptr, &errors, &limit);
  if (failed != nullptr) *failed = count > 0 && FD_ISSET(socket, &errors);
  return count > 0;
}

}  // namespace

bool start(FirstError& error) {
  WSADATA data{};
  const int code = WSAStartup(MAKEWORD(2, 2), &data);
  if (code != 0) error.keep("open", static_cast<std::uint32_t>(code));
  return code == 0;
}

void stop() {
  WSACleanup();
}

// getaddrinfo gives Winsock's own codes (WSAHOST_NOT_FOUND, ...).
std::uint32_t resolver_error(int code) {
  return static_cast<std::uint32_t>(code);
}

Socket connect_one(const addrinfo& address, std::uint64_t deadline_ns, std::uint32_t& failure) {
  const Socket socket = WSASocketW(address.ai_family, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                                   WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
  u_long non_blocking = 1;
  if (socket == INVALID_SOCKET ||
      ioctlsocket(socket, static_cast<long>(FIONBIO), &non_blocking) != 0) {
    failure = last_socket_error();
    if (socket != INVALID_SOCKET) closesocket(socket);
    return kNoSocket;
  }
  std::uint32_t error = 0;
  if (::connect(socket, address.ai_addr, static_cast<int>(address.ai_addrlen)) != 0) {
    error = last_socket_error();
  }
  if (error == WSAEWOULDBLOCK) {
    // A connection that failed shows in the error set, with its reason in SO_ERROR.
    bool failed = false;
    error = WSAETIMEDOUT;
    if (select_one(socket, Ready::ToWrite, ms_until(deadline_ns), &failed)) {
      int reason = 0;
      int size = sizeof reason;
      getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&reason), &size);
      error = failed ? static_cast<std::uint32_t>(reason) : 0;
    }
  }
  if (error != 0) {
    closesocket(socket);
    failure = error;
    return kNoSocket;
  }
  // Each small write leaves at once; each segment that comes is acknowledged
  // at once (Windows would wait 200 ms), for the system's lifetime of the
  // socket. A system without the second keeps its delay.
  const BOOL on = TRUE;
  setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
  DWORD every_segment = 1;
  DWORD returned = 0;
  WSAIoctl(socket, SIO_TCP_SET_ACK_FREQUENCY, &every_segment, sizeof every_segment, nullptr, 0,
           &returned, nullptr, nullptr);
  // A system older than the probe count's option (Windows 10 1703) sends
  // its fixed ten probes, and a dead connection takes a few seconds longer.
  tcp_keepalive keepalive{1, kKeepIdleMs, kKeepIntervalMs};
  WSAIoctl(socket, SIO_KEEPALIVE_VALS, &keepalive, sizeof keepalive, nullptr, 0, &returned, nullptr,
           nullptr);
  const DWORD probes = (kSilenceLimitMs - kKeepIdleMs) / kKeepIntervalMs;
  const DWORD silence_s = kSilenceLimitMs / 1000;
  setsockopt(socket, IPPROTO_TCP, TCP_KEEPCNT, reinterpret_cast<const char*>(&probes),
             sizeof probes);
  setsockopt(socket, IPPROTO_TCP, TCP_MAXRT, reinterpret_cast<const char*>(&silence_s),
             sizeof silence_s);
  return socket;
}

namespace {

// What a send or receive that moved nothing (SOCKET_ERROR) or found the end
// (0) means.
Moved moved(int n) {
  if (n > 0) return {static_cast<std::size_t>(n), 0};
  if (n == 0) return {0, kConnectionReset};
  const std::uint32_t error = last_socket_error();
  if (error == WSAEWOULDBLOCK || error == WSAEINTR) return {};
  return {0, error};
}

// Winsock counts bytes in an int.
int at_most_int(std::size_t count) {
  return static_cast<int>(count > 0x7FFFFFFF ? 0x7FFFFFFF : count);
}

}  // namespace

Moved send_some(Socket socket, const std::uint8_t* bytes, std::size_t count) {
  const int n = ::send(socket, reinterpret_cast<const char*>(bytes), at_most_int(count), 0);
  return n == 0 ? Moved{} : moved(n);
}

Moved receive_some(Socket socket, std::uint8_t* bytes, std::size_t room) {
  return moved(::recv(socket, reinterpret_cast<char*>(bytes), at_most_int(room), 0));
}

bool wait(Socket socket, Ready ready, int timeout_ms) {
  return select_one(socket, ready, timeout_ms);
}

// The acknowledgement frequency set at the connect holds for every receive.
void acknowledge_at_once(Socket) {}

void close(Socket socket) {
  closesocket(socket);
  stop();
}

}  // namespace tarvex::line::net

#endif  // _WIN32
