// The network port's socket on Linux (socket.h).
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "line/monotonic_clock.h"
#include "line/socket.h"

namespace tarvex::line::net {

bool start(FirstError&) {
  return true;
}

void stop() {}

std::uint32_t resolver_error(int code) {
  switch (code) {
    case EAI_SYSTEM: return static_cast<std::uint32_t>(errno);
    case EAI_AGAIN: return EAGAIN;
    case EAI_MEMORY: return ENOMEM;
    default: return ENXIO;  // no such host: as a device path that names nothing
  }
}

Socket connect_one(const addrinfo& address, std::uint64_t deadline_ns, std::uint32_t& failure) {
  const int fd = socket(address.ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    failure = static_cast<std::uint32_t>(errno);
    return kNoSocket;
  }
  int error = connect(fd, address.ai_addr, address.ai_addrlen) == 0 ? 0 : errno;
  if (error == EINPROGRESS) {
    pollfd pfd{fd, POLLOUT, 0};
    int ready = 0;
    do {
      ready = poll(&pfd, 1, ms_until(deadline_ns));
    } while (ready < 0 && errno == EINTR);
    error = ETIMEDOUT;
    socklen_t size = sizeof error;
    if (ready > 0) getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size);
  }
  if (error != 0) {
    ::close(fd);
    failure = static_cast<std::uint32_t>(error);
    return kNoSocket;
  }
  // Frames go out in small writes (an address byte, then the rest): each
  // must leave at once, not wait for the acknowledgement of the one before.
  const int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  const int idle_s = kKeepIdleMs / 1000;
  const int interval_s = kKeepIntervalMs / 1000;
  const int probes = (kSilenceLimitMs - kKeepIdleMs) / kKeepIntervalMs;
  const unsigned silence_ms = kSilenceLimitMs;
  setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
  setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle_s, sizeof idle_s);
  setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval_s, sizeof interval_s);
  setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes);
  setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &silence_ms, sizeof silence_ms);
  return fd;
}

namespace {

// What a send or receive that moved nothing (-1) or found the end (0) means.
Moved moved(ssize_t n) {
  if (n > 0) return {static_cast<std::size_t>(n), 0};
  if (n == 0) return {0, kConnectionReset};
  if (errno == EAGAIN || errno == EINTR) return {};
  return {0, static_cast<std::uint32_t>(errno)};
}

}  // namespace

// MSG_NOSIGNAL: a server that went away is an error here, never a SIGPIPE in
// the host.
Moved send_some(Socket socket, const std::uint8_t* bytes, std::size_t count) {
  const ssize_t n = ::send(socket, bytes, count, MSG_NOSIGNAL);
  return n == 0 ? Moved{} : moved(n);
}

Moved receive_some(Socket socket, std::uint8_t* bytes, std::size_t room) {
  return moved(::recv(socket, bytes, room, MSG_DONTWAIT));
}

bool wait(Socket socket, Ready ready, int timeout_ms) {
  pollfd pfd{socket, static_cast<short>(ready == Ready::ToRead ? POLLIN : POLLOUT), 0};
  return poll(&pfd, 1, timeout_ms) > 0;
}

// The kernel falls back to delaying its acknowledgements, so it is asked
// again after every receive.
void acknowledge_at_once(Socket socket) {
  const int on = 1;
  setsockopt(socket, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
}

void close(Socket socket) {
  ::close(socket);
}

}  // namespace tarvex::line::net
