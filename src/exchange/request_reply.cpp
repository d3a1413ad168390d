#include "exchange/request_reply.h"

#include "exchange/argument_contract.h"
#include "exchange/frame_phase.h"
#include "exchange/request_profile.h"
#include "line/primitives.h"

namespace tarvex::exchange {
namespace {

using line::Channel;

// The members side by side.

RequestProfile getdata_profile() {
  return {.frame = {.address_setting = line::mark(),
                    .wait_after_address = 9,
                    .data_setting = line::space(),
                    .wait_before_rest = 9},
          .limit_by_command_code = getdata_limit,
          .wait_after_reply = 9,
          .acknowledge = Acknowledge::OnlyForC2};
}

RequestProfile nGetData_profile(std::uint32_t baud, std::uint32_t limit) {
  return {.frame = {.address_setting = line::mark(baud),
                    .wait_after_address = 9,
                    .data_setting = line::space(baud),
                    .wait_before_rest = 9},
          .drain_limit = limit,
          .byte_limit = limit,
          .wait_after_reply = 9,
          .acknowledge = Acknowledge::Always};
}

// The reply is read under MARK too: the line is never switched.
RequestProfile dxGetdata_profile() {
  return {.frame = {.address_setting = line::mark(), .whole_frame_with_address = true},
          .limit_by_command_code = dxGetdata_limit};
}

// No line setting at all: the frame goes out in whatever setting the held
// port has.
RequestProfile Nget_profile() {
  return {.frame = {.whole_frame_with_address = true}, .drain_limit = 1000, .byte_limit = 100};
}

RequestProfile HANDLE_GetData_profile(std::uint32_t limit) {
  return {.frame = held_port_frame(),
          .drain_limit = limit,
          .byte_limit = limit,
          .wait_after_reply = 5,
          .acknowledge = Acknowledge::Always,
          .wait_after_acknowledgement = 5};
}

struct Limits {
  std::uint32_t drain, byte;
};

Limits limits_for(const RequestProfile& profile, std::uint8_t command_code) {
  if (profile.limit_by_command_code == nullptr) return {profile.drain_limit, profile.byte_limit};
  const std::uint32_t limit = profile.limit_by_command_code(command_code);
  return {limit, limit};
}

// After the frame: the drain wait, the checked reply and the acknowledgement.
Result after_frame(Channel port, const RequestProfile& profile, std::uint8_t command_code,
                   std::int32_t reply_length, std::uint8_t* reply, ReplyByteHook on_reply_byte) {
  const Limits limits = limits_for(profile, command_code);
  if (!line::drain_wait(port, limits.drain)) return kFrameNotSent;
  if (reply_length == 0) return kOk;

  const auto counted = [on_reply_byte](std::int32_t index, std::uint8_t byte) {
    if (on_reply_byte.call != nullptr) on_reply_byte.call(on_reply_byte.context, index, byte);
  };
  const Result replied =
      reply_result(line::checked_reply(port, reply, reply_length, limits.byte, counted));
  if (replied != kOk) return replied;
  line::busy_wait(port, profile.wait_after_reply);
  if (profile.acknowledge == Acknowledge::Always ||
      (profile.acknowledge == Acknowledge::OnlyForC2 && command_code == 0xC2)) {
    line::send_acknowledgement(port);
    line::busy_wait(port, profile.wait_after_acknowledgement);
  }
  return kOk;
}

Result on_held_port(Platform& os, Handle held, const RequestProfile& profile, std::int32_t n,
                    std::uint8_t* frame, std::int32_t reply_length, std::uint8_t* reply) {
  if (const Refusal refused = refuse_request(n, frame, reply_length, reply)) return *refused;
  const std::uint8_t command_code = frame[1];
  line::append_checksum(frame, n);
  const Channel port{os, held};
  if (!send_frame(port, profile.frame, frame, wire_length(n))) return kFrameNotSent;
  return after_frame(port, profile, command_code, reply_length, reply, {});
}

}  // namespace

Result request_by_name(Platform& os, const char* port_name, const RequestProfile& profile,
                       std::int32_t n, std::uint8_t* frame, std::int32_t reply_length,
                       std::uint8_t* reply, ReplyByteHook on_reply_byte) {
  if (const Refusal refused = refuse_request(n, frame, reply_length, reply, port_name)) {
    return *refused;
  }
  const std::uint8_t command_code = frame[1];
  line::append_checksum(frame, n);
  line::ScopedPort port(os, port_name, line::TimeoutSet::Standard);
  if (!send_frame(port, profile.frame, frame, wire_length(n))) return kFrameNotSent;
  return after_frame(port.channel(), profile, command_code, reply_length, reply, on_reply_byte);
}

// Where the per-command limits come from: not from the line. At 9600 baud a
// reply of a few bytes takes a few milliseconds; each value is the time the
// entry point gives a terminal to begin and go on answering that command
// code, short for the codes a terminal answers at once, long (2500 ms) for
// those it has work to do for first. Hosts and terminals are built against
// these very values, so they are listed code by code, kept to the
// millisecond and never computed. A host that needs another limit calls
// nGetData, which takes one.
std::uint32_t getdata_limit(std::uint8_t command_code) {
  switch (command_code) {
    case 0x91: case 0x94: case 0xA1: return 80;
    case 0xC1: return 100;
    case 0xA7: case 0xC9: return 50;
    case 0x92: case 0xA2: case 0xC2: return 2500;
    default: return 1000;
  }
}

// The same kind of table for the member that sends and reads under MARK.
std::uint32_t dxGetdata_limit(std::uint8_t command_code) {
  switch (command_code) {
    case 0xA1: return 280;
    case 0xC1: return 200;
    case 0xA7: case 0xC9: return 50;
    default: return 500;
  }
}

Result getdata(Platform& os, std::int32_t n, std::uint8_t* frame, std::int32_t reply_length,
               std::uint8_t* reply, const char* port_name) {
  return request_by_name(os, port_name, getdata_profile(), n, frame, reply_length, reply);
}

Result nGetData(Platform& os, std::int32_t n, std::uint8_t* frame, std::int32_t reply_length,
                std::uint8_t* reply, const char* port_name, std::uint32_t baud,
                std::uint32_t limit_ms) {
  return request_by_name(os, port_name, nGetData_profile(baud, limit_ms), n, frame, reply_length,
                         reply);
}

Result dxGetdata(Platform& os, std::int32_t n, std::uint8_t* frame, std::int32_t reply_length,
                 std::uint8_t* reply, const char* port_name) {
  return request_by_name(os, port_name, dxGetdata_profile(), n, frame, reply_length, reply);
}

Result Nget(Platform& os, std::int32_t n, std::uint8_t* frame, std::int32_t reply_length,
            std::uint8_t* reply, Handle port) {
  return on_held_port(os, port, Nget_profile(), n, frame, reply_length, reply);
}

Result HANDLE_GetData(Platform& os, Handle port, std::int32_t n, std::uint8_t* frame,
                      std::int32_t reply_length, std::uint8_t* reply, std::uint32_t limit_ms) {
  return on_held_port(os, port, HANDLE_GetData_profile(limit_ms), n, frame, reply_length, reply);
}

}  // namespace tarvex::exchange
