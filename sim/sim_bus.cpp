#include "sim/sim_bus.h"

#include <algorithm>

#include "sim/system_errors.h"

namespace tarvex::sim {

using trace::TraceEvent;
using trace::WireByte;

struct SimBus::Port {
  std::string name;
  std::optional<Handle> handle;  // while open
  line::TimeoutSet timeouts = line::TimeoutSet::Standard;
  line::LineClock clock;           // the setting in force, when the last character ends
  std::deque<WireByte> outgoing;  // written, not yet delivered to the terminals
  std::deque<Arrival> input;       // sorted by arrival
  std::vector<std::shared_ptr<Terminal>> terminals;
  std::vector<WireByte> sent;
  std::vector<WireByte> received;
};

void BusResponder::send(std::span<const std::uint8_t> bytes, std::uint64_t start_us,
                     std::uint64_t gap_us) {
  bus_.queue_arrivals(port_, bytes, start_us, gap_us);
}

std::uint64_t BusResponder::now_us() const { return bus_.now_us(); }

SimBus::SimBus() : SimBus(Options{}) {}
SimBus::SimBus(Options options) : options_(options) {}
SimBus::~SimBus() = default;

void SimBus::add_port(const std::string& name) {
  auto port = std::make_unique<Port>();
  port->name = name;
  ports_[name] = std::move(port);
}

void SimBus::attach(const std::string& port, std::shared_ptr<Terminal> terminal) {
  if (find_name(port) == nullptr) add_port(port);
  find_name(port)->terminals.push_back(std::move(terminal));
}

SimBus::Port* SimBus::find(Handle handle) {
  for (auto& [name, port] : ports_) {
    if (port->handle == handle) return port.get();
  }
  return nullptr;
}

void SimBus::fail(const char* operation, std::uint32_t code) {
  if (error_.get()) return;
  error_.keep(operation, code);
  recording_.failed(operation, code, now_us_);
}

const SimBus::Port* SimBus::find_name(const std::string& name) const {
  const auto it = ports_.find(name);
  return it == ports_.end() ? nullptr : it->second.get();
}

SimBus::Port* SimBus::find_name(const std::string& name) {
  const auto it = ports_.find(name);
  return it == ports_.end() ? nullptr : it->second.get();
}

bool SimBus::fault_now() {
  if (far_end_gone()) hung_up_ = true;
  const bool strike = faults_.at_call && *faults_.at_call == calls_;
  ++calls_;
  return strike;
}

void SimBus::queue_arrivals(const std::string& port_name, std::span<const std::uint8_t> bytes,
                            std::uint64_t start_us, std::uint64_t gap_us) {
  Port* port = find_name(port_name);
  if (port == nullptr) return;
  const std::uint64_t char_us = port->clock.character_us();
  const LineSetting& setting = port->clock.setting();
  std::uint64_t at = std::max(start_us, now_us_);
  for (const std::uint8_t value : bytes) {
    const WireByte byte{.start_us = at,
                        .end_us = at + char_us,
                        .value = value,
                        .parity = setting.parity,
                        .stop_bits = setting.stop_bits,
                        .baud = port->clock.baud()};
    const auto pos = std::upper_bound(
        port->input.begin(), port->input.end(), byte.end_us,
        [](std::uint64_t t, const Arrival& a) { return t < a.at_us; });
    port->input.insert(pos, Arrival{byte.end_us, value});
    port->received.push_back(byte);
    at = byte.end_us + gap_us;
  }
}

void SimBus::deliver_until(std::uint64_t t) {
  for (auto& [name, port] : ports_) {
    while (!port->outgoing.empty() && port->outgoing.front().end_us <= t) {
      const WireByte byte = port->outgoing.front();
      port->outgoing.pop_front();
      port->sent.push_back(byte);
      recording_.sent(port->handle.value_or(line::kInvalidHandle), byte);
      BusResponder responder(*this, name);
      for (const auto& terminal : port->terminals) terminal->on_byte(byte, responder);
    }
  }
}

void SimBus::advance(std::uint64_t us) {
  now_us_ += us;
  deliver_until(now_us_);
}

std::optional<std::uint64_t> SimBus::next_event(const Port& port) const {
  std::optional<std::uint64_t> next;
  if (!port.outgoing.empty()) next = port.outgoing.front().end_us;
  if (!port.input.empty()) {
    next = next ? std::min(*next, port.input.front().at_us) : port.input.front().at_us;
  }
  return next;
}

Handle SimBus::open(const char* name, line::TimeoutSet timeouts) {
  tick_follows_poll_ = false;
  const bool fault = fault_now();
  Port* port = name == nullptr ? nullptr : find_name(name);
  const bool opened = !fault && port != nullptr && !port->handle;
  trace::Open& event = recording_.add<trace::Open>(line::kInvalidHandle, now_us_);
  event.name = name == nullptr ? "" : name;
  event.timeouts = timeouts;
  if (!opened) {
    fail("open", fault ? kDeviceFailed : port == nullptr ? kNoSuchPort : kPortBusy);
    return line::kInvalidHandle;
  }
  port->handle = next_handle_;
  next_handle_ += 4;
  port->timeouts = timeouts;
  ++opens_;
  event.handle = *port->handle;
  return *port->handle;
}

// As a real port applies a setting or closes: once the characters already
// written have left the line.
void SimBus::wait_for_line_free(Port& port) {
  deliver_until(now_us_);
  if (!port.outgoing.empty()) advance(port.outgoing.back().end_us - now_us_);
}

bool SimBus::set_line(Handle handle, const LineSetting& setting) {
  tick_follows_poll_ = false;
  const bool fault = fault_now();
  Port* port = find(handle);
  if (port == nullptr) {
    fail("port", kBadHandle);
    return false;
  }
  wait_for_line_free(*port);
  // Not taken: the port keeps what it had, and the trace shows what was
  // asked for, then the failure.
  line::LineClock asked = port->clock;
  asked.apply(setting);
  recording_.add<trace::SetLine>(handle, now_us_).setting = asked.setting();
  if (fault || hung_up_) {
    fail("line setting", fault ? line::kSettingNotTaken : kDeviceFailed);
    return false;
  }
  port->clock.apply(setting);
  return true;
}

std::uint32_t SimBus::write(Handle handle, const std::uint8_t* bytes, std::uint32_t count) {
  tick_follows_poll_ = false;
  const bool fault = fault_now();
  const std::uint64_t write_index = writes_++;
  Port* port = find(handle);
  if (port == nullptr || hung_up_) {
    recording_.write(handle, now_us_, bytes, count, 0);
    fail(port == nullptr ? "port" : "write", port == nullptr ? kBadHandle : kDeviceFailed);
    return 0;
  }
  std::uint32_t taken = count;
  if (fault) taken = count / 2;
  if (faults_.short_write_at == write_index) taken = std::min(count, faults_.short_write_takes);
  deliver_until(now_us_);
  // A synchronous write: it hands its bytes to the transmitter one by one and
  // returns once the last of them has started on the line, or gives up after
  // the write timeout (5 ms a byte + 10 ms), reporting what it handed over.
  const std::uint64_t call_start = now_us_;
  const std::uint64_t give_up = call_start + line::write_limit_us(count);
  const LineSetting& setting = port->clock.setting();
  std::uint32_t handed = 0;
  for (; handed < taken; ++handed) {
    const std::uint64_t start = port->clock.next_start_us(now_us_);
    if (start > give_up) break;
    port->clock.place(now_us_, 1);
    port->outgoing.push_back(WireByte{.start_us = start,
                                      .end_us = port->clock.free_us(),
                                      .value = bytes[handed],
                                      .parity = setting.parity,
                                      .stop_bits = setting.stop_bits,
                                      .baud = port->clock.baud()});
  }
  recording_.write(handle, call_start, bytes, count, handed);
  const std::uint64_t returns_at = handed < taken    ? give_up
                                   : handed > 0      ? port->outgoing.back().start_us
                                                     : call_start;
  if (returns_at > now_us_) advance(returns_at - now_us_);
  return handed;
}

line::ReadResult SimBus::read_byte(Handle handle, std::uint8_t* destination) {
  const bool fault = fault_now();
  if (fault && faults_.read == Faults::Read::Stop) reads_stopped_ = true;
  if (fault && faults_.read == Faults::Read::HangUp) hung_up_ = true;
  tick_follows_poll_ = true;
  Port* port = find(handle);
  if (port == nullptr || hung_up_) {
    recording_.add<trace::HungUp>(handle, now_us_);
    fail(port == nullptr ? "port" : "read", port == nullptr ? kBadHandle : kDeviceFailed);
    return line::ReadResult::HungUp;
  }
  if (reads_stopped_) {
    advance(options_.read_poll_us);
    recording_.idle_read(handle, now_us_, now_us_);
    return line::ReadResult::Nothing;
  }
  const std::uint64_t deadline = now_us_ + options_.read_poll_us;
  for (;;) {
    deliver_until(now_us_);
    if (!port->input.empty() && port->input.front().at_us <= now_us_) {
      *destination = port->input.front().value;
      if (fault) *destination ^= 0x5A;
      port->input.pop_front();
      recording_.add<trace::Read>(handle, now_us_).byte = *destination;
      return line::ReadResult::Byte;
    }
    if (now_us_ >= deadline) break;
    now_us_ = std::min(next_event(*port).value_or(deadline), deadline);
  }
  recording_.idle_read(handle, deadline - options_.read_poll_us, now_us_);
  return line::ReadResult::Nothing;
}

std::optional<std::uint32_t> SimBus::output_queue(Handle handle) {
  if (fault_now() || faults_.queue_never_drains) queue_stuck_ = true;
  tick_follows_poll_ = true;
  Port* port = find(handle);
  if (port == nullptr || hung_up_) {
    fail(port == nullptr ? "port" : "output queue", port == nullptr ? kBadHandle : kDeviceFailed);
    return std::nullopt;
  }
  deliver_until(now_us_);
  const auto queued = static_cast<std::uint32_t>(port->outgoing.size()) + (queue_stuck_ ? 1 : 0);
  recording_.queue_query(handle, now_us_, now_us_, queued);
  return queued;
}

void SimBus::purge_input(Handle handle) {
  tick_follows_poll_ = false;
  fault_now();
  Port* port = find(handle);
  recording_.add<trace::Purge>(handle, now_us_);
  if (port == nullptr) return fail("port", kBadHandle);
  deliver_until(now_us_);
  std::erase_if(port->input, [this](const Arrival& a) { return a.at_us <= now_us_; });
}

void SimBus::close(Handle handle) {
  tick_follows_poll_ = false;
  fault_now();
  Port* port = find(handle);
  if (port != nullptr) wait_for_line_free(*port);
  recording_.add<trace::Close>(handle, now_us_);
  if (port == nullptr) return fail("port", kBadHandle);
  // Nothing of the line setting changes.
  port->handle.reset();
}

std::uint32_t SimBus::tick() {
  if (fault_now()) now_us_ += 10'000'000;
  now_us_ += options_.tick_cost_us;
  deliver_until(now_us_);
  const bool own_poll = tick_follows_poll_;
  tick_follows_poll_ = false;
  recording_.tick(now_us_, own_poll);
  return static_cast<std::uint32_t>(options_.tick_start_ms + now_us_ / 1000);
}

std::vector<WireByte> SimBus::sent(const std::string& port) const {
  const Port* p = find_name(port);
  return p == nullptr ? std::vector<WireByte>{} : p->sent;
}

std::vector<WireByte> SimBus::received(const std::string& port) const {
  const Port* p = find_name(port);
  return p == nullptr ? std::vector<WireByte>{} : p->received;
}

std::optional<LineSetting> SimBus::setting(const std::string& port) const {
  const Port* p = find_name(port);
  return p == nullptr ? std::nullopt : std::optional<LineSetting>(p->clock.setting());
}

std::optional<line::TimeoutSet> SimBus::timeouts(const std::string& port) const {
  const Port* p = find_name(port);
  return p == nullptr ? std::nullopt : std::optional<line::TimeoutSet>(p->timeouts);
}

std::size_t SimBus::open_handles() const {
  return static_cast<std::size_t>(std::count_if(
      ports_.begin(), ports_.end(), [](const auto& entry) { return entry.second->handle.has_value(); }));
}

std::size_t SimBus::hazards() const {
  // A setting or a close overtakes a character that started before it and
  // had not ended: on a UART that character would leave with the new
  // setting, or be cut off.
  std::size_t overtaking = 0;
  for (const TraceEvent& e : trace()) {
    if (!trace::is<trace::SetLine>(e) && !trace::is<trace::Close>(e)) continue;
    const std::uint64_t at = trace::timed(e).time_us;
    const auto on_the_line = [at](const TraceEvent& c) {
      const auto* sent = std::get_if<trace::Sent>(&c);
      return sent != nullptr && sent->wire.start_us < at && sent->wire.end_us > at;
    };
    overtaking += static_cast<std::size_t>(std::ranges::any_of(trace(), on_the_line));
  }
  return overtaking;
}

std::size_t SimBus::pending_input(const std::string& port) const {
  const Port* p = find_name(port);
  return p == nullptr ? 0 : p->input.size();
}

}  // namespace tarvex::sim
