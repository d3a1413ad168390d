// The tracing decorator a real port is wrapped in records what the simulated
// bus records of itself: run over the bus, both traces print the same.
#include "trace/tracing_platform.h"

#include <gtest/gtest.h>

#include <functional>

#include "exchange/request_reply.h"
#include "line/held_port.h"
#include "line/primitives.h"
#include "sim/demo_bus.h"
#include "trace/trace_format.h"

namespace tarvex::testing {
namespace {

namespace ex = exchange;
using Bytes = std::vector<std::uint8_t>;
constexpr const char* kPort = sim::kDemoPort;

struct Scenario {
  const char* name;
  std::function<Result(line::Platform&)> run;
  const char* must_show;  // a line fragment the trace has to contain
};

Result get(line::Platform& os, Bytes frame, std::int32_t reply_length) {
  Bytes reply(static_cast<std::size_t>(reply_length) + 1);
  const auto n = static_cast<std::int32_t>(frame.size());
  frame.push_back(0);
  return ex::getdata(os, n, frame.data(), reply_length, reply.data(), kPort);
}

const Scenario kScenarios[] = {
    {"getdata with its acknowledgement", [](line::Platform& os) { return get(os, {0x05, 0xC2}, 8); },
     "tx     S 1 9600  02 4F"},
    {"dxGetdata, all under MARK",
     [](line::Platform& os) {
       Bytes frame{0x12, 0xC1, 0x00, 0x03, 0x00};
       Bytes reply(4);
       return ex::dxGetdata(os, 4, frame.data(), 3, reply.data(), kPort);
     },
     "tx     M 1 9600  12 C1 00 03 D6"},
    {"HANDLE_GetData on a held port",
     [](line::Platform& os) {
       const line::Handle held = line::com_init(os, kPort, 19200);
       Bytes frame{0x31, 0xA1, 0x00};
       Bytes reply(5);
       const Result result = ex::HANDLE_GetData(os, held, 2, frame.data(), 4, reply.data(), 200);
       line::com_exit(os, held);
       return result;
     },
     "line   S 1 19200"},
    {"nobody at the address: reads time out",
     [](line::Platform& os) { return get(os, {0x09, 0xA1}, 4); }, "read   nothing for"},
    {"the port is held elsewhere: the open fails",
     [](line::Platform& os) {
       const line::Handle held = line::com_init(os, kPort, 9600);
       const Result result = get(os, {0x05, 0xA1}, 4);
       line::com_exit(os, held);
       return result;
     },
     "-> invalid"},
    {"a line setting waits for the bytes still going out",
     [](line::Platform& os) {
       const line::Handle h = line::open_by_name(os, kPort, line::TimeoutSet::Standard);
       const Bytes bytes{0x05, 0xA1, 0xA6};
       (void)line::set_line({os, h}, line::mark());
       line::checked_write({os, h}, bytes.data(), 3);
       (void)line::set_line({os, h}, line::space());
       line::release({os, h});
       return kOk;
     },
     "3.438  line   S 1 9600"},
};

TEST(TracingPlatform, RecordsWhatTheSimulatedBusRecords) {
  for (const Scenario& scenario : kScenarios) {
    SCOPED_TRACE(scenario.name);
    sim::DemoBus plain;
    const Result expected = scenario.run(plain.bus);
    plain.bus.advance(50000);

    sim::DemoBus traced;
    trace::TracingPlatform tracer(traced.bus, [&traced] { return traced.bus.now_us(); });
    EXPECT_EQ(scenario.run(tracer), expected) << "the decorator changes nothing of the exchange";
    traced.bus.advance(50000);

    const std::string own = trace::trace_text(traced.bus.trace(), 0, 0);
    EXPECT_EQ(trace::trace_text(tracer.trace(), 0, 0), own);
    EXPECT_EQ(trace::trace_text(plain.bus.trace(), 0, 0), own);
    EXPECT_NE(own.find(scenario.must_show), std::string::npos) << own;
  }
}

TEST(TracingPlatform, SpreadsTheCharactersOfAWriteAtTheirCharacterTime) {
  sim::DemoBus demo;
  trace::TracingPlatform tracer(demo.bus, [&demo] { return demo.bus.now_us(); });
  const line::Handle h = tracer.open(kPort, line::TimeoutSet::Standard);
  tracer.set_line(h, line::space(1200, line::StopBits::Two));
  const Bytes bytes{0x01, 0x02, 0x03};
  ASSERT_EQ(tracer.write(h, bytes.data(), 3), 3u);
  std::vector<trace::WireByte> sent;
  for (const trace::TraceEvent& e : tracer.trace()) {
    if (const auto* s = std::get_if<trace::Sent>(&e)) sent.push_back(s->wire);
  }
  ASSERT_EQ(sent.size(), 3u);
  const std::uint64_t char_us = 12 * 1000000 / 1200;  // start, 8 data, parity, 2 stop bits
  for (std::size_t i = 0; i < sent.size(); ++i) {
    EXPECT_EQ(sent[i].start_us, i * char_us);
    EXPECT_EQ(sent[i].end_us - sent[i].start_us, char_us);
    EXPECT_EQ(sent[i].parity, line::Parity::Space);
    EXPECT_EQ(sent[i].baud, 1200u);
  }
  tracer.close(h);
}

}  // namespace
}  // namespace tarvex::testing
