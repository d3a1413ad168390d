// A one-call exchange log as the library writes it: getdata 05 C2 with a
// reply of 8 bytes, on the simulated bus, traced as a real port is.
#pragma once

#include <cstdint>
#include <fstream>
#include <string>

#include "exchange/request_reply.h"
#include "sim/demo_bus.h"
#include "trace/exchange_log.h"
#include "trace/tracing_platform.h"

namespace tarvex::testing {

inline void write_sample_log(const std::string& path) {
  sim::DemoBus demo;
  trace::TracingPlatform tracer(demo.bus, [&demo] { return demo.bus.now_us(); });
  std::uint8_t frame[3] = {0x05, 0xC2, 0};
  std::uint8_t reply[9] = {};
  const Result result = exchange::getdata(tracer, 2, frame, 8, reply, sim::kDemoPort);
  std::string block;
  trace::format_block(block, {1733700000000000, 100, 101},
                      {"getdata", "n frame reply_length reply port_name", 2, frame, 8, reply,
                       trace::PortNameArg{sim::kDemoPort}},
                      tracer.trace(), {trace::Outcome::Kind::Code, result});
  std::ofstream(path, std::ios::binary) << block;
}

}  // namespace tarvex::testing
