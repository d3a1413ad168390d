#include "line/tcp_connect.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "line/monotonic_clock.h"

namespace tarvex::line {
namespace {

// The longest host name DNS allows, with room for the brackets of an IPv6
// address and the terminating zero.
constexpr std::size_t kHostBytes = 256;

struct Address {
  char host[kHostBytes];
  char port[6];
};

bool all_digits(const char* text) {
  if (*text == '\0') return false;
  for (; *text != '\0'; ++text) {
    if (*text < '0' || *text > '9') return false;
  }
  return true;
}

// "HOST:PORT" or "[IPv6]:PORT", PORT 1 to 65535.
bool split(const char* host_port, Address& address) {
  const char* colon = nullptr;
  const char* host = host_port;
  std::size_t host_length = 0;
  if (*host_port == '[') {
    const char* close = std::strchr(host_port, ']');
    if (close == nullptr || close[1] != ':') return false;
    host = host_port + 1;
    host_length = static_cast<std::size_t>(close - host);
    colon = close + 1;
  } else {
    colon = std::strrchr(host_port, ':');
    if (colon == nullptr) return false;
    host_length = static_cast<std::size_t>(colon - host_port);
  }
  const char* port = colon + 1;
  const std::size_t port_length = std::strlen(port);
  if (host_length == 0 || host_length >= kHostBytes || port_length > 5 || !all_digits(port)) {
    return false;
  }
  std::memcpy(address.host, host, host_length);
  address.host[host_length] = '\0';
  std::memcpy(address.port, port, port_length + 1);
  const long number = std::strtol(address.port, nullptr, 10);
  return number >= 1 && number <= 65535;
}

std::uint32_t resolver_errno(int code) {
  switch (code) {
    case EAI_SYSTEM: return static_cast<std::uint32_t>(errno);
    case EAI_AGAIN: return EAGAIN;
    case EAI_MEMORY: return ENOMEM;
    default: return ENXIO;  // no such host: as a device path that names nothing
  }
}

// One address: a connected socket, or -1 with errno set.
int connect_one(const addrinfo& candidate, std::uint64_t deadline_ns) {
  const int fd = socket(candidate.ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  int result = connect(fd, candidate.ai_addr, candidate.ai_addrlen);
  if (result != 0 && errno == EINPROGRESS) {
    pollfd pfd{fd, POLLOUT, 0};
    int ready = 0;
    do {
      ready = poll(&pfd, 1, ms_until(deadline_ns));
    } while (ready < 0 && errno == EINTR);
    int failure = ETIMEDOUT;
    socklen_t size = sizeof failure;
    if (ready > 0) getsockopt(fd, SOL_SOCKET, SO_ERROR, &failure, &size);
    result = failure == 0 ? 0 : -1;
    errno = failure;
  }
  if (result != 0) {
    const int failure = errno;
    ::close(fd);
    errno = failure;
    return -1;
  }
  // Frames go out in small writes (an address byte, then the rest): each
  // must leave at once, not wait for the acknowledgement of the one before.
  const int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return fd;
}

}  // namespace

int tcp_connect(const char* host_port, std::uint64_t deadline_ns, FirstError& error) {
  Address address{};
  if (!split(host_port, address)) {
    error.keep("open", EINVAL);
    return -1;
  }
  // The system's resolver, with its own time limits: a numeric address
  // skips it.
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  if (const int code = getaddrinfo(address.host, address.port, &hints, &found); code != 0) {
    error.keep("open", resolver_errno(code));
    return -1;
  }
  int fd = -1;
  int failure = ETIMEDOUT;
  for (const addrinfo* candidate = found; candidate != nullptr && fd < 0;
       candidate = candidate->ai_next) {
    fd = connect_one(*candidate, deadline_ns);
    if (fd < 0) failure = errno;
  }
  freeaddrinfo(found);
  if (fd < 0) error.keep("open", static_cast<std::uint32_t>(failure));
  return fd;
}

}  // namespace tarvex::line
