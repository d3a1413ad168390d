// A network between the library and a serial server, made on loopback: a
// TCP forwarder that delays every byte by a one-way time each way, can let
// the client's bytes go only in bursts (as a link does after a lost packet,
// when the resent one carries everything held behind it), and can stay deaf
// to the first connection attempt (a lost SYN). The timing bench measures
// exchanges across it; the network tier checks the library against it.
#pragma once

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

namespace tarvex::bench {

class LinkRelay {
 public:
  struct Shape {
    std::chrono::microseconds one_way{0};  // added to each byte, both ways
    // The client's bytes leave only at multiples of this (0: at once).
    std::chrono::milliseconds burst{0};
    // The first connection's SYN goes unanswered; the next one is heard.
    bool lose_first_syn = false;
  };

  // Forwards rfc2217://127.0.0.1:PORT to `server` ("rfc2217://HOST:PORT");
  // throws std::runtime_error when it cannot listen.
  LinkRelay(const std::string& server, Shape shape);
  ~LinkRelay();
  LinkRelay(const LinkRelay&) = delete;
  LinkRelay& operator=(const LinkRelay&) = delete;

  const std::string& port_name() const { return name_; }

 private:
  void run(int listener, int blocker);

  Shape shape_;
  int server_port_ = 0;
  std::string name_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace tarvex::bench
