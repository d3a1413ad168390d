#include "line/tcp_connect.h"

#include <cstdlib>
#include <cstring>

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

}  // namespace

net::Socket tcp_connect(const char* host_port, std::uint64_t deadline_ns, FirstError& error) {
  Address address{};
  if (!split(host_port, address)) {
    error.keep("open", net::kBadName);
    return net::kNoSocket;
  }
  if (!net::start(error)) return net::kNoSocket;
  // The system's resolver, with its own time limits: a numeric address
  // skips it.
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  if (const int code = getaddrinfo(address.host, address.port, &hints, &found); code != 0) {
    error.keep("open", net::resolver_error(code));
    net::stop();
    return net::kNoSocket;
  }
  net::Socket socket = net::kNoSocket;
  std::uint32_t failure = net::kTimedOut;
  for (const addrinfo* candidate = found; candidate != nullptr && socket == net::kNoSocket;
       candidate = candidate->ai_next) {
    socket = net::connect_one(*candidate, deadline_ns, failure);
  }
  freeaddrinfo(found);
  if (socket == net::kNoSocket) {
    error.keep("open", failure);
    net::stop();
  }
  return socket;
}

}  // namespace tarvex::line
