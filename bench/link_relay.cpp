#include "link_relay.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <deque>
#include <list>
#include <stdexcept>
#include <vector>

namespace tarvex::bench {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

sockaddr_in loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  return address;
}

int connect_to(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const sockaddr_in address = loopback(port);
  if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  const int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return fd;
}

// One direction of one connection: what was read, each chunk with the time
// it may leave.
struct Pipe {
  int from;
  int to;
  std::deque<std::pair<Clock::time_point, std::vector<std::uint8_t>>> held;
  bool ended = false;  // `from` has closed
  bool shut = false;   // and `to` has been told, once all had left
};

}  // namespace

LinkRelay::LinkRelay(const std::string& server, Shape shape) : shape_(shape) {
  server_port_ = std::stoi(server.substr(server.rfind(':') + 1));
  const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = loopback(0);
  socklen_t size = sizeof address;
  // A backlog of 0 holds one connection: the blocker's, which fills it, so
  // the kernel drops the next SYN until the blocker is taken.
  if (bind(listener, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
      listen(listener, shape.lose_first_syn ? 0 : 16) != 0 ||
      getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    close(listener);
    throw std::runtime_error("the relay cannot listen");
  }
  const int port = ntohs(address.sin_port);
  name_ = "rfc2217://127.0.0.1:" + std::to_string(port);
  const int blocker = shape.lose_first_syn ? connect_to(port) : -1;
  thread_ = std::thread([this, listener, blocker] { run(listener, blocker); });
}

LinkRelay::~LinkRelay() {
  stop_ = true;
  thread_.join();
}

void LinkRelay::run(int listener, int blocker) {
  const Clock::time_point started = Clock::now();
  std::list<Pipe> pipes;  // in pairs: client to server, then server to client
  while (!stop_) {
    // The lost SYN's resend comes a second after it: by then there is room.
    if (blocker >= 0 && Clock::now() - started > 500ms) {
      close(accept(listener, nullptr, nullptr));
      close(blocker);
      blocker = -1;
      listen(listener, 16);
    }
    std::vector<pollfd> ready{{listener, static_cast<short>(blocker < 0 ? POLLIN : 0), 0}};
    for (const Pipe& p : pipes) ready.push_back({p.ended ? -1 : p.from, POLLIN, 0});
    poll(ready.data(), ready.size(), 1);
    const Clock::time_point now = Clock::now();
    if (ready[0].revents & POLLIN) {
      const int client = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
      const int server = connect_to(server_port_);
      const int on = 1;
      setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
      if (client >= 0 && server >= 0) {
        pipes.push_back({client, server, {}});
        pipes.push_back({server, client, {}});
      } else {
        close(client);
        close(server);
      }
    }
    std::size_t index = 1;
    bool upward = true;
    for (Pipe& p : pipes) {
      // A pair accepted in this round has no entry in `ready` yet.
      const bool readable = index < ready.size() && ready[index].revents != 0;
      ++index;
      if (readable) {
        std::vector<std::uint8_t> bytes(4096);
        const ssize_t n = recv(p.from, bytes.data(), bytes.size(), MSG_DONTWAIT);
        if (n > 0) {
          // Acknowledged at once, as the library does: ser2net holds a small
          // segment until its last one is acknowledged, and a relay that
          // delayed its acknowledgements would add 40 ms no network has.
          const int on = 1;
          setsockopt(p.from, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
          bytes.resize(static_cast<std::size_t>(n));
          Clock::time_point due = now + shape_.one_way;
          if (upward && shape_.burst > 0ms) {
            const auto since = due - started;
            due = started + (since / shape_.burst + 1) * shape_.burst;
          }
          p.held.emplace_back(due, std::move(bytes));
        } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
          p.ended = true;
        }
      }
      while (!p.held.empty() && p.held.front().first <= now) {
        send(p.to, p.held.front().second.data(), p.held.front().second.size(), MSG_NOSIGNAL);
        p.held.pop_front();
      }
      if (p.ended && p.held.empty() && !p.shut) {
        shutdown(p.to, SHUT_WR);
        p.shut = true;
      }
      upward = !upward;
    }
    // A connection goes once both ways have ended.
    for (auto up = pipes.begin(); up != pipes.end();) {
      const auto down = std::next(up);
      if (up->shut && down->shut) {
        close(up->from);
        close(up->to);
        up = pipes.erase(up, std::next(down));
      } else {
        up = std::next(down);
      }
    }
  }
  for (const Pipe& p : pipes) close(p.from);
  close(listener);
  if (blocker >= 0) close(blocker);
}

}  // namespace tarvex::bench
