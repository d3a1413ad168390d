#include "line/os_platform.h"

#include <utility>
#include <variant>

#include "line/device.h"
#include "line/monotonic_clock.h"
#include "line/port_name.h"
#include "line/port_table.h"

namespace tarvex::line {
namespace {

// What the host learns of a handle the table does not know, and of a table
// with no slot left.
#if defined(_WIN32)
constexpr std::uint32_t kUnknownHandle = ERROR_INVALID_HANDLE;
constexpr std::uint32_t kNoSlotLeft = ERROR_TOO_MANY_OPEN_FILES;
#else
constexpr std::uint32_t kUnknownHandle = EBADF;
constexpr std::uint32_t kNoSlotLeft = EMFILE;
#endif

}  // namespace

// A port that lives in the table between calls.
template <class Port>
Handle OsPlatform::open_in_table(const char* name) {
  static_assert(Device<Port>);
  PortTable& table = PortTable::instance();
  const std::optional<std::size_t> slot = table.reserve();
  if (!slot) {
    error_.keep("open", kNoSlotLeft);
    return kInvalidHandle;
  }
  std::optional<Port> port = Port::open(name, error_);
  if (!port) {
    table.give_back(*slot);
    return kInvalidHandle;
  }
  return table.publish(*slot, OpenDevice(std::in_place_type<Port>, std::move(*port)));
}

// Runs `run(device)` on the device `port` names; `unknown` when it names
// none: nothing is touched, and the host learns that the handle is bad. A
// COM port's handle is the system's, which judges it itself.
template <class Run, class Result>
Result OsPlatform::on_device(Handle port, Run&& run, Result unknown) {
#if defined(_WIN32)
  if (!PortTable::names_slot(port)) {
    Win32ComPort com_port = com_ports_.port(port);
    return run(com_port);
  }
#endif
  auto result = PortTable::instance().with(port, [&](OpenDevice& device) {
    return std::visit([&](auto& open_port) { return run(open_port); }, device);
  });
  if (result) return *std::move(result);
  error_.keep("port", kUnknownHandle);
  return unknown;
}

Handle OsPlatform::open(const char* name, TimeoutSet timeouts) {
  if (port_kind(name) == PortKind::Network) return open_in_table<Rfc2217Device>(name);
#if defined(_WIN32)
  return Win32ComPort::open(name, timeouts, error_);
#else
  // A COMn name has no meaning of its own here: like any other name that is
  // not a network port's, it is a device path. Both timeout sets bound a
  // one-byte read and a write alike, which is all a termios device keeps.
  (void)timeouts;
  return open_in_table<TermiosDevice>(name);
#endif
}

bool OsPlatform::set_line(Handle port, const LineSetting& setting) {
  return on_device(
      port, [&](auto& device) { return device.set_line(setting, error_); }, false);
}

std::uint32_t OsPlatform::write(Handle port, const std::uint8_t* bytes, std::uint32_t count) {
  return on_device(
      port, [&](auto& device) { return device.write(bytes, count, error_); }, std::uint32_t{0});
}

ReadResult OsPlatform::read_byte(Handle port, std::uint8_t* destination) {
  return on_device(
      port, [&](auto& device) { return device.read_byte(destination, error_); },
      ReadResult::HungUp);
}

std::optional<std::uint32_t> OsPlatform::output_queue(Handle port) {
  return on_device(
      port, [&](auto& device) { return device.output_queue(error_); },
      std::optional<std::uint32_t>{});
}

void OsPlatform::purge_input(Handle port) {
  on_device(
      port,
      [](auto& device) {
        device.purge_input();
        return true;
      },
      false);
}

// A query: an unknown handle is the next operation's to report.
bool OsPlatform::hung_up(Handle port) {
#if defined(_WIN32)
  if (!PortTable::names_slot(port)) return com_ports_.port(port).hung_up();
#endif
  return PortTable::instance()
      .with(port,
            [](OpenDevice& device) {
              return std::visit([](auto& open_port) { return open_port.hung_up(); }, device);
            })
      .value_or(false);
}

// Only a network port has a round trip; a COM port's handle is not the
// table's, and the table finds no slot for it.
std::uint32_t OsPlatform::reply_allowance_ms(Handle port) {
  return PortTable::instance()
      .with(port,
            [](OpenDevice& device) {
              const auto* network = std::get_if<Rfc2217Device>(&device);
              return network != nullptr ? network->reply_allowance_ms() : 0u;
            })
      .value_or(0u);
}

void OsPlatform::close(Handle port) {
#if defined(_WIN32)
  if (!PortTable::names_slot(port)) {
    com_ports_.port(port).close();
    com_ports_.forget(port);
    return;
  }
#endif
  const bool closed = PortTable::instance().remove(port, [](OpenDevice& device) {
    std::visit([](auto& open_port) { open_port.close(); }, device);
  });
  if (!closed) error_.keep("port", kUnknownHandle);
}

#if defined(_WIN32)

std::uint32_t OsPlatform::tick() {
  return GetTickCount();
}

// The tick turns only at the system timer's interrupt, which is when a
// sleep of one millisecond ends: the busy wait then reads it again.
void OsPlatform::pause_until_tick(std::uint32_t) {
  Win32Sleep::until_next_tick();
}

void OsPlatform::hand_error_to_host() const {
  if (const std::optional<OsError> kept = error_.get()) SetLastError(kept->code);
}

#else

std::uint32_t OsPlatform::tick() {
  return static_cast<std::uint32_t>(monotonic_ns() / 1000000u);
}

// The tick is CLOCK_MONOTONIC's millisecond count cut to 32 bits, so the
// instant it turns to `target` is a whole millisecond of that clock: the
// sleep ends there exactly, to an absolute deadline, and the busy wait then
// confirms on the tick.
void OsPlatform::pause_until_tick(std::uint32_t target) {
  const std::uint64_t now_ms = monotonic_ns() / 1000000u;
  const std::uint32_t ahead = target - static_cast<std::uint32_t>(now_ms);
  // Reached already, or behind (half the 32-bit range): nothing to sleep for.
  if (ahead == 0 || ahead > 0x7FFFFFFFu) return;
  sleep_until_ns((now_ms + ahead) * 1000000u);
}

void OsPlatform::hand_error_to_host() const {
  if (const std::optional<OsError> kept = error_.get()) errno = static_cast<int>(kept->code);
}

#endif  // _WIN32

}  // namespace tarvex::line
