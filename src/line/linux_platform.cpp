#include "line/linux_platform.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

#include "line/monotonic_clock.h"
#include "line/port_name.h"
#include "line/port_table.h"

namespace tarvex::line {
namespace {

// The operation `run(device)` on an open port; `unknown` when the handle
// names none: nothing is touched, and the host learns EBADF.
template <class Run, class Result>
Result on_port(FirstError& error, Handle port, Run&& run, Result unknown) {
  auto result = PortTable::instance().with(port, [&](Device& device) {
    return std::visit([&](auto& open_port) { return run(open_port); }, device);
  });
  if (result) return *std::move(result);
  error.keep("port", EBADF);
  return unknown;
}

// A version of `run` for operations that give nothing back.
template <class Run>
void on_port(FirstError& error, Handle port, Run&& run) {
  on_port(
      error, port,
      [&](auto& open_port) {
        run(open_port);
        return true;
      },
      false);
}

// Opens the device type `Port` names.
template <class Port>
std::optional<Device> open_device(const char* name, FirstError& error) {
  std::optional<Port> port = Port::open(name, error);
  if (!port) return std::nullopt;
  return Device(std::in_place_type<Port>, std::move(*port));
}

}  // namespace

Handle LinuxPlatform::open(const char* name, TimeoutSet) {
  PortTable& table = PortTable::instance();
  const std::optional<std::size_t> slot = table.reserve();
  if (!slot) {
    error_.keep("open", EMFILE);
    return kInvalidHandle;
  }
  // A COMn name has no meaning of its own here: like any other name that is
  // not a network port's, it is a device path.
  std::optional<Device> device = port_kind(name) == PortKind::Network
                                     ? open_device<Rfc2217Device>(name, error_)
                                     : open_device<TermiosDevice>(name, error_);
  if (!device) {
    table.give_back(*slot);
    return kInvalidHandle;
  }
  return table.publish(*slot, *std::move(device));
}

bool LinuxPlatform::set_line(Handle port, const LineSetting& setting) {
  return on_port(
      error_, port, [&](auto& open_port) { return open_port.set_line(setting, error_); }, false);
}

std::uint32_t LinuxPlatform::write(Handle port, const std::uint8_t* bytes, std::uint32_t count) {
  return on_port(
      error_, port, [&](auto& open_port) { return open_port.write(bytes, count, error_); },
      std::uint32_t{0});
}

ReadResult LinuxPlatform::read_byte(Handle port, std::uint8_t* destination) {
  return on_port(
      error_, port, [&](auto& open_port) { return open_port.read_byte(destination, error_); },
      ReadResult::HungUp);
}

std::optional<std::uint32_t> LinuxPlatform::output_queue(Handle port) {
  return on_port(
      error_, port, [&](auto& open_port) { return open_port.output_queue(error_); },
      std::optional<std::uint32_t>{});
}

void LinuxPlatform::purge_input(Handle port) {
  on_port(error_, port, [](auto& open_port) { open_port.purge_input(); });
}

bool LinuxPlatform::hung_up(Handle port) {
  const std::optional<bool> gone = PortTable::instance().with(
      port, [](Device& device) { return std::visit([](auto& open_port) { return open_port.hung_up(); }, device); });
  return gone.value_or(false);
}

void LinuxPlatform::close(Handle port) {
  const bool closed = PortTable::instance().remove(
      port, [](Device& device) { std::visit([](auto& open_port) { open_port.close(); }, device); });
  if (!closed) error_.keep("port", EBADF);
}

std::uint32_t LinuxPlatform::tick() {
  return static_cast<std::uint32_t>(monotonic_ns() / 1000000u);
}

// The tick is CLOCK_MONOTONIC's millisecond count cut to 32 bits, so the
// instant it turns to `target` is a whole millisecond of that clock: the
// sleep ends there exactly, to an absolute deadline, and the busy wait then
// confirms on the tick.
void LinuxPlatform::pause_until_tick(std::uint32_t target) {
  const std::uint64_t now_ms = monotonic_ns() / 1000000u;
  const std::uint32_t ahead = target - static_cast<std::uint32_t>(now_ms);
  // Reached already, or behind (half the 32-bit range): nothing to sleep for.
  if (ahead == 0 || ahead > 0x7FFFFFFFu) return;
  sleep_until_ns((now_ms + ahead) * 1000000u);
}

void LinuxPlatform::hand_error_to_host() const {
  if (const std::optional<OsError> kept = error_.get()) errno = static_cast<int>(kept->code);
}

}  // namespace tarvex::line
