// The exchange log's block: written from a traced call, read back whole,
// every trace line giving back the events it was printed from; the cap on
// the file and the host's errno.
#include "trace/exchange_log.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <functional>

#include "exchange/request_reply.h"
#include "file_text.h"
#include "line/held_port.h"
#include "sim/demo_bus.h"
#include "trace/log_reader.h"
#include "trace/log_system.h"
#include "trace/trace_format.h"
#include "trace/tracing_platform.h"

namespace tarvex::testing {
namespace {

namespace ex = exchange;
namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
constexpr const char* kPort = sim::kDemoPort;

struct Scenario {
  const char* name;
  trace::Call call;
  // Runs before the traced call, on the bus itself: a port held already.
  std::function<line::Handle(sim::SimBus&)> before;
  std::function<std::int64_t(line::Platform&, line::Handle held)> run;
  const char* must_show;
};

std::int64_t get(line::Platform& os, Bytes frame, std::int32_t reply_length) {
  Bytes reply(static_cast<std::size_t>(reply_length) + 1);
  const auto n = static_cast<std::int32_t>(frame.size());
  frame.push_back(0);
  return ex::getdata(os, n, frame.data(), reply_length, reply.data(), kPort);
}

line::Handle nothing_held(sim::SimBus&) {
  return line::kInvalidHandle;
}
line::Handle held_at_19200(sim::SimBus& bus) {
  return line::com_init(bus, kPort, 19200);
}

const trace::PortNameArg kName{kPort};

const Scenario kScenarios[] = {
    {"getdata with its acknowledgement",
     {"getdata", "n frame reply_length reply port_name", 2, nullptr, 8, nullptr, kName},
     nothing_held,
     [](line::Platform& os, line::Handle) {
       return get(os, {0x05, 0xC2}, 8);
     },
     "tx     S 1 9600  02 4F  (2.292 ms on the line)"},
    {"nobody at the address",
     {"getdata", "n frame reply_length reply port_name", 2, nullptr, 4, nullptr, kName},
     nothing_held,
     [](line::Platform& os, line::Handle) {
       return get(os, {0x09, 0xA1}, 4);
     },
     "read   nothing for"},
    {"the port is held elsewhere",
     {"getdata", "n frame reply_length reply port_name", 2, nullptr, 4, nullptr, kName},
     held_at_19200,
     [](line::Platform& os, line::Handle) {
       return get(os, {0x05, 0xA1}, 4);
     },
     "error  open: "},
    {"com_init",
     {"com_init", "port_name baud", kName, 19200u},
     nothing_held,
     [](line::Platform& os, line::Handle) -> std::int64_t {
       return line::com_init(os, kPort, 19200);
     },
     "result #"},
    {"Nget on a port held before the call",
     {"Nget", "n frame reply_length reply port", 2, nullptr, 4, nullptr, trace::HeldPortArg{1}},
     held_at_19200,
     [](line::Platform& os, line::Handle held) {
       Bytes frame{0x05, 0xA1, 0x00};
       Bytes reply(5);
       return ex::Nget(os, 2, frame.data(), 4, reply.data(), held);
     },
     "write  3 byte(s), 3 taken: 05 A1 A6 (under the port's setting from before the call)"},
    {"HANDLE_GetData on a port held before the call",
     {"HANDLE_GetData", "port n frame reply_length reply limit_ms", trace::HeldPortArg{1}, 2, nullptr,
      4, nullptr, 200u},
     held_at_19200,
     [](line::Platform& os, line::Handle held) {
       Bytes frame{0x31, 0xA1, 0x00};
       Bytes reply(5);
       return ex::HANDLE_GetData(os, held, 2, frame.data(), 4, reply.data(), 200);
     },
     "tx     M 1 kept  31\n"},
};

TEST(ExchangeLog, EveryLineOfABlockGivesBackTheEventsItWasPrintedFrom) {
  for (const Scenario& s : kScenarios) {
    SCOPED_TRACE(s.name);
    sim::DemoBus demo;
    const line::Handle held = s.before(demo.bus);
    const std::uint64_t origin = demo.bus.now_us();
    trace::TracingPlatform tracer(demo.bus, [&demo, origin] { return demo.bus.now_us() - origin; });
    const std::int64_t result = s.run(tracer, held);
    const bool port = std::string(s.call.entry_point) == "com_init";
    const trace::Outcome outcome{port ? trace::Outcome::Kind::Port : trace::Outcome::Kind::Code,
                                 result};
    std::string block;
    trace::format_block(block, {1733700000123456, 4242, 4243}, s.call, tracer.trace(), outcome);
    EXPECT_NE(block.find(s.must_show), std::string::npos) << block;

    const trace::LogReading reading = trace::read_log(block + block);
    ASSERT_TRUE(reading.problems.empty()) << reading.problems.front() << "\n" << block;
    ASSERT_EQ(reading.calls.size(), 2u);
    const trace::LoggedCall& call = reading.calls[1];
    EXPECT_EQ(call.first_line,
              1 + static_cast<std::size_t>(std::count(block.begin(), block.end(), '\n')));
    EXPECT_EQ(call.time, "2024-12-08T23:20:00.123456Z");
    EXPECT_EQ(call.process, 4242u);
    EXPECT_EQ(call.thread, 4243u);
    EXPECT_EQ(call.library, "tarvex");
    EXPECT_EQ(call.entry_point, s.call.entry_point);
    EXPECT_EQ(call.outcome.kind, outcome.kind);
    EXPECT_EQ(call.outcome.value, outcome.value);
    EXPECT_EQ(call.port, std::string(s.call.names).ends_with(" port") ||
                                 std::string(s.call.names).starts_with("port ")
                             ? "#1"
                             : kPort);

    EXPECT_EQ(trace::trace_text(call.events, 0, 0), trace::trace_text(tracer.trace(), 0, 0));
  }
}

TEST(ExchangeLog, ACapIsBytesWithAnOptionalUnitOrTheLogStaysOff) {
  const struct {
    const char* text;
    std::optional<std::uint64_t> cap;
  } kCaps[] = {{"1048576", 1048576},
               {"64K", 65536},
               {"10MB", 10485760},
               {"1g", 1073741824},
               {"0", 0},
               {"", {}},
               {"ten", {}},
               {"10 M", {}},
               {"-1", {}},
               {"5T", {}},
               {"99999999999999999999", {}},
               {"17179869184G", {}}};
  for (const auto& c : kCaps) EXPECT_EQ(trace::parse_log_max(c.text), c.cap) << c.text;
}

TEST(ExchangeLog, AFullFileIsRotatedOnceAndEveryBlockStaysWhole) {
  const fs::path log =
      fs::path(::testing::TempDir()) / ("tarvex_cap_" + std::to_string(getpid()) + ".log");
  fs::remove(log);
  fs::remove(log.string() + ".1");
  constexpr std::uint64_t kCap = 2000;
  std::size_t written = 0;
  for (int i = 0; i < 60; ++i) {
    std::string block;
    trace::format_block(block, {0, 1, static_cast<std::uint64_t>(i)},
                        {"com_exit", "port", trace::HeldPortArg{1}}, {},
                        {trace::Outcome::Kind::Code, 0});
    trace::system::append(log.c_str(), kCap, block.data(), block.size());
    written += block.size();
  }
  ASSERT_GT(written, 2 * kCap);
  EXPECT_LE(fs::file_size(log), kCap);
  EXPECT_LE(fs::file_size(log.string() + ".1"), kCap);
  const trace::LogReading newer = trace::read_log(file_text(log));
  const trace::LogReading older = trace::read_log(file_text(log.string() + ".1"));
  EXPECT_TRUE(newer.problems.empty() && older.problems.empty());
  ASSERT_FALSE(newer.calls.empty());
  ASSERT_FALSE(older.calls.empty());
  EXPECT_EQ(newer.calls.back().thread, 59u) << "the newest block is in the file itself";
  EXPECT_EQ(older.calls.back().thread + 1, newer.calls.front().thread)
      << "PATH.1 holds the blocks just before";
  fs::remove(log);
  fs::remove(log.string() + ".1");
}

// Blocks that bring the file exactly to its cap stay in it: only a block
// that would take it past the cap rotates it.
TEST(ExchangeLog, BlocksThatFillTheCapExactlyAreNotRotated) {
  const fs::path log =
      fs::path(::testing::TempDir()) / ("tarvex_full_" + std::to_string(getpid()) + ".log");
  fs::remove(log);
  fs::remove(log.string() + ".1");
  std::string block;
  trace::format_block(block, {}, {"com_exit", "port", trace::HeldPortArg{1}}, {},
                      {trace::Outcome::Kind::Code, 0});
  for (int i = 0; i < 3; ++i) {
    trace::system::append(log.c_str(), 3 * block.size(), block.data(), block.size());
  }
  EXPECT_EQ(fs::file_size(log), 3 * block.size());
  EXPECT_FALSE(fs::exists(log.string() + ".1"));
  fs::remove(log);
}

TEST(ExchangeLog, ALogThatCannotBeWrittenLeavesTheResultAndErrnoAsTheCallLeftThem) {
  trace::LogSettings settings;
  settings.on = true;
  std::snprintf(settings.path, sizeof settings.path, "/dev/null/no-log-here");
  sim::DemoBus demo;
  const auto run = [](void* bus, line::Platform& os) -> std::int64_t {
    const std::int64_t result = get(os, {0x05, 0xC2}, 8);
    static_cast<void>(bus);
    errno = EDOM;  // as the exchange's last system call left it
    return result;
  };
  const std::int64_t result = trace::run_logged(settings, {"getdata", "", 0}, demo.bus,
                                                {&demo, run}, trace::Outcome::Kind::Code);
  EXPECT_EQ(errno, EDOM);
  EXPECT_EQ(result, kOk);
}

}  // namespace
}  // namespace tarvex::testing
