// The demo terminals on a pseudo-terminal, for a real host to talk to: any
// program that opens the slave path as its serial port (the Linux shared
// object, the DLL under wine, a host application) meets terminals at 05, 12
// and 31 that answer as they do on the simulated bus. Each frame heard is
// logged with the parity of every byte, as sampled from the slave's setting:
// M, S or N, and m for a byte taken as an address byte although the setting
// read SPACE (see wire_bytes()).
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include <span>

#include "sim/demo_terminal.h"
#include "sim/pty_peer.h"

namespace tarvex::sim {

class PtyDemo {
 public:
  // Opens the pair; throws std::runtime_error when there is none to give.
  explicit PtyDemo(std::ostream& log);

  const std::string& port() const { return peer_.port(); }

  // One pass: waits up to a millisecond for bytes from the host, hands them
  // to the terminals, writes the answers that are due, logs what happened.
  void serve_once();

  // Serves until `seconds` have passed or `frames` frames have been logged
  // (0: no such limit), then lets the answers still due go out.
  void serve(std::uint32_t seconds, std::uint32_t frames);

  std::size_t frames_logged() const { return frames_logged_; }
  const DemoTerminal* terminal(std::uint8_t address) const;

 private:
  // Answers the terminals queue, written when they are due.
  class Outbox final : public Responder {
   public:
    explicit Outbox(const PtyDemo& demo) : demo_(demo) {}
    void send(std::span<const std::uint8_t> bytes, std::uint64_t start_us,
              std::uint64_t gap_us = 0) override;
    std::uint64_t now_us() const override { return demo_.now_us(); }

    struct Answer {
      std::uint64_t due_us;
      std::vector<std::uint8_t> bytes;
    };
    std::deque<Answer> queued;
    std::vector<std::uint8_t> last;  // what the last frame heard brought back

   private:
    const PtyDemo& demo_;
  };

  std::uint64_t now_us() const;
  std::vector<trace::WireByte> wire_bytes(const PtyPeer::Batch& batch);
  std::string heard_text(const std::vector<trace::WireByte>& bytes) const;
  void hear(const trace::WireByte& byte);
  // Logs the bytes no terminal took, at once or after a silence.
  void log_unclaimed(bool now);
  void write_due();

  std::ostream& log_;
  PtyPeer peer_;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::vector<std::shared_ptr<DemoTerminal>> terminals_;
  Outbox outbox_{*this};
  std::vector<trace::WireByte> unclaimed_;  // heard since the last frame a terminal took
  std::vector<std::pair<std::uint64_t, std::uint8_t>>
      inferred_;  // (time, value) of bytes shown as m
  std::uint64_t last_heard_us_ = 0;
  std::size_t frames_logged_ = 0;
};

}  // namespace tarvex::sim
