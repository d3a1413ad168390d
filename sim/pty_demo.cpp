#include "sim/pty_demo.h"

#include <algorithm>

#include "line/primitives.h"
#include "sim/demo_bus.h"
#include "trace/trace_format.h"

namespace tarvex::sim {
namespace {

// After this much silence, bytes no terminal took are logged on their own.
constexpr std::uint64_t kUnclaimedAfterUs = 100000;
// A byte after this much silence starts a frame, as far as a byte can.
constexpr std::uint64_t kFrameStartSilenceUs = 1000;

bool names_a_terminal(std::uint8_t value) {
  if (value == 0x00) return true;  // every terminal hears address 00
  for (const std::uint8_t a : kDemoAddresses) {
    if (a == value) return true;
  }
  return false;
}

line::Parity parity_of(LineParity parity) {
  switch (parity) {
    case LineParity::Mark: return line::Parity::Mark;
    case LineParity::Space: return line::Parity::Space;
    case LineParity::None: return line::Parity::None;
  }
  return line::Parity::None;
}

std::string ms(std::uint64_t us) {
  std::string text;
  trace::append_ms(text, us);
  return text;
}

// "05 C2 C7".
std::string hex_text(const std::vector<std::uint8_t>& bytes) {
  std::string text;
  for (const std::uint8_t b : bytes) {
    if (!text.empty()) text += ' ';
    trace::append_hex_byte(text, b);
  }
  return text;
}

}  // namespace

PtyDemo::PtyDemo(std::ostream& log) : log_(log) {
  for (const std::uint8_t address : kDemoAddresses) {
    terminals_.push_back(std::make_shared<DemoTerminal>(address));
  }
}

void PtyDemo::Outbox::send(std::span<const std::uint8_t> bytes, std::uint64_t start_us,
                           std::uint64_t) {
  queued.push_back({start_us, std::vector<std::uint8_t>(bytes.begin(), bytes.end())});
  last.insert(last.end(), bytes.begin(), bytes.end());
}

std::uint64_t PtyDemo::now_us() const {
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                        std::chrono::steady_clock::now() - start_)
                                        .count());
}

const DemoTerminal* PtyDemo::terminal(std::uint8_t address) const {
  for (const auto& t : terminals_) {
    if (t->address() == address) return t.get();
  }
  return nullptr;
}

// The bytes of one read, each with a parity: the setting sampled right after
// the read. A pseudo-terminal moves bytes at no baud rate, so they all end
// now. The first byte of a read needs more care: a host that switches to
// SPACE right after its address byte (the exchanges that re-open the port do
// so within microseconds) may have switched before the read. So the first
// byte counts as sent under MARK when the line went into MARK since the last
// read, and is taken for an address byte (logged as m) when it came after
// silence and names a terminal. A data byte mistaken that way does
// little harm: a terminal in a frame takes every byte, whatever its parity.
std::vector<trace::WireByte> PtyDemo::wire_bytes(const PtyPeer::Batch& batch) {
  std::vector<trace::WireByte> bytes;
  if (batch.bytes.empty()) return bytes;
  const std::uint64_t end = now_us();
  const line::LineSetting setting{
      parity_of(batch.after.parity),
      batch.after.two_stop_bits ? line::StopBits::Two : line::StopBits::One, batch.after.baud};
  const std::uint32_t baud = batch.after.baud == 0 ? line::kDefaultBaud : batch.after.baud;
  const std::uint64_t start = end - std::min(end, trace::character_time_us(setting, baud));
  for (const std::uint8_t value : batch.bytes) {
    bytes.push_back({.start_us = start,
                     .end_us = end,
                     .value = value,
                     .parity = setting.parity,
                     .stop_bits = setting.stop_bits,
                     .baud = baud});
  }
  const bool after_silence = last_heard_us_ == 0 || end >= last_heard_us_ + kFrameStartSilenceUs;
  if (batch.mark_entered) {
    bytes.front().parity = line::Parity::Mark;
  } else if (setting.parity == line::Parity::Space && after_silence &&
             names_a_terminal(bytes.front().value)) {
    bytes.front().parity = line::Parity::Mark;
    inferred_.push_back({end, bytes.front().value});
  }
  last_heard_us_ = end;
  return bytes;
}

// "M05 SC2 SC7": each byte with the parity it was heard under; long frames
// (a blacklist block) show their start and end.
std::string PtyDemo::heard_text(const std::vector<trace::WireByte>& bytes) const {
  std::string text;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes.size() > 32 && i == 24) {
      text += " ... (" + std::to_string(bytes.size()) + " bytes)";
      i = bytes.size() - 4;
    }
    const trace::WireByte& b = bytes[i];
    const bool inferred = std::find(inferred_.begin(), inferred_.end(),
                                    std::pair{b.end_us, b.value}) != inferred_.end();
    const char letter = inferred                          ? 'm'
                        : b.parity == line::Parity::Mark  ? 'M'
                        : b.parity == line::Parity::Space ? 'S'
                                                          : 'N';
    text.append(text.empty() ? "" : " ").append(1, letter);
    trace::append_hex_byte(text, b.value);
  }
  return text;
}

// A frame to address 00 is heard by every terminal: it is logged once, with
// the answer of whichever terminal gave one.
void PtyDemo::hear(const trace::WireByte& byte) {
  // An address byte starts a new frame: what no terminal took before it is
  // logged on its own line.
  if (byte.parity == line::Parity::Mark && !unclaimed_.empty()) log_unclaimed(true);
  unclaimed_.push_back(byte);
  outbox_.last.clear();
  std::vector<const DemoTerminal*> completed;
  for (const auto& t : terminals_) {
    const std::size_t before = t->frames().size();
    t->on_byte(byte, outbox_);
    if (t->frames().size() != before) completed.push_back(t.get());
  }
  if (completed.empty()) return;
  const std::vector<trace::WireByte>& frame = completed.front()->frames().back();
  const std::string who =
      completed.size() > 1 ? "all" : hex_text({completed.front()->address()}) + " ";
  log_ << ms(byte.end_us) << "  " << who << "  " << heard_text(frame) << "  -> "
       << (outbox_.last.empty() ? std::string("(no answer)") : hex_text(outbox_.last)) << std::endl;
  ++frames_logged_;
  unclaimed_.clear();
  inferred_.clear();
}

void PtyDemo::log_unclaimed(bool now) {
  if (unclaimed_.empty() || (!now && now_us() < unclaimed_.back().end_us + kUnclaimedAfterUs))
    return;
  const bool acknowledgement = unclaimed_.size() == 2 && unclaimed_[0].value == line::kAck0 &&
                               unclaimed_[1].value == line::kAck1;
  log_ << ms(unclaimed_.front().end_us) << "  --   " << heard_text(unclaimed_)
       << (acknowledgement ? "  (the host's acknowledgement)" : "  (no terminal took it)")
       << std::endl;
  unclaimed_.clear();
  inferred_.clear();
}

void PtyDemo::write_due() {
  while (!outbox_.queued.empty() && outbox_.queued.front().due_us <= now_us()) {
    Outbox::Answer& answer = outbox_.queued.front();
    const long n = peer_.send(answer.bytes.data(), answer.bytes.size());
    if (n == 0) return;  // the pseudo-terminal is full: again on the next pass
    if (n > 0 && static_cast<std::size_t>(n) < answer.bytes.size()) {
      answer.bytes.erase(answer.bytes.begin(), answer.bytes.begin() + n);
      return;
    }
    outbox_.queued.pop_front();  // written, or the pair is gone
  }
}

void PtyDemo::serve(std::uint32_t seconds, std::uint32_t frames) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while ((seconds == 0 || std::chrono::steady_clock::now() < until) &&
         (frames == 0 || frames_logged_ < frames)) {
    serve_once();
  }
  const auto drain_until = std::chrono::steady_clock::now() + std::chrono::milliseconds(50);
  while (std::chrono::steady_clock::now() < drain_until) serve_once();
}

void PtyDemo::serve_once() {
  const PtyPeer::Batch batch = peer_.receive(1);
  for (const trace::WireByte& byte : wire_bytes(batch)) hear(byte);
  log_unclaimed(false);
  write_due();
}

}  // namespace tarvex::sim
