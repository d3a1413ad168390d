// A terminal for tests: it answers what a test scripted, step by step.
#pragma once

#include <cstdint>
#include <deque>
#include <vector>

#include "sim/sim_bus.h"

namespace tarvex::sim {

class ScriptedTerminal final : public Terminal {
 public:
  struct Step {
    std::size_t after_bytes = 0;        // bytes to hear (since the last answer) before answering
    std::vector<std::uint8_t> reply;    // what to answer
    std::uint64_t delay_us = 1000;      // silence between the last byte heard and the answer
    std::uint64_t gap_us = 0;           // silence between two answer bytes
  };

  // Queues an answer; steps fire in order.
  ScriptedTerminal& then(Step step) {
    steps_.push_back(std::move(step));
    return *this;
  }
  ScriptedTerminal& then(std::size_t after_bytes, std::vector<std::uint8_t> reply,
                         std::uint64_t delay_us = 1000) {
    return then(Step{after_bytes, std::move(reply), delay_us, 0});
  }

  void on_byte(const trace::WireByte& byte, Responder& line) override {
    heard_.push_back(byte);
    ++since_answer_;
    if (steps_.empty() || since_answer_ < steps_.front().after_bytes) return;
    const Step step = std::move(steps_.front());
    steps_.pop_front();
    since_answer_ = 0;
    line.send(step.reply, byte.end_us + step.delay_us, step.gap_us);
  }

  const std::vector<trace::WireByte>& heard() const { return heard_; }
  std::size_t steps_left() const { return steps_.size(); }

 private:
  std::deque<Step> steps_;
  std::vector<trace::WireByte> heard_;
  std::size_t since_answer_ = 0;
};

}  // namespace tarvex::sim
