// `tarvex demo`: exchanges with the demo terminals on the simulated bus,
// each with its line trace.
#include <array>
#include <cstdio>
#include <iostream>
#include <memory>

#include "exchange/request_reply.h"
#include "sim/demo_terminal.h"
#include "sim/sim_bus.h"
#include "sim/trace_format.h"
#include "tool_commands.h"

namespace tarvex::tool {
namespace {

constexpr const char* kSimPort = "SIM1";

void print_bytes(const char* label, const std::uint8_t* bytes, std::size_t count) {
  std::printf("%s", label);
  for (std::size_t i = 0; i < count; ++i) std::printf(" %02X", bytes[i]);
  std::printf("\n");
}

int run_demo() {
  sim::SimBus bus;
  bus.add_port(kSimPort);
  bus.attach(kSimPort, std::make_shared<sim::DemoTerminal>(0x05));
  bus.attach(kSimPort, std::make_shared<sim::DemoTerminal>(0x12));

  std::printf("Simulated bus on port %s with demo terminals at addresses 0x05 and 0x12.\n\n",
              kSimPort);
  std::printf("getdata: read the record log of terminal 0x05 (command 0xC2, 8 reply bytes).\n");
  std::printf("The address byte goes out under MARK parity, the rest under SPACE; the reply is\n");
  std::printf("checked against its checksum and, for 0xC2, acknowledged with 02 4F.\n\n");

  std::array<std::uint8_t, 3> frame{0x05, 0xC2, 0x00};
  std::array<std::uint8_t, 9> reply{};
  const Result result = exchange::getdata(bus, 2, frame.data(), 8, reply.data(), kSimPort);

  bus.advance(5000);  // let the acknowledgement leave the line before the trace is printed
  sim::print_trace(std::cout, bus.trace());
  std::cout.flush();
  std::printf("\n");
  print_bytes("frame sent:", frame.data(), frame.size());
  print_bytes("reply:     ", reply.data(), reply.size());
  std::printf("result:      %d (%s)\n", result, result_meaning(result));
  return result;
}

}  // namespace

void add_demo_command(CLI::App& app, int& status) {
  CLI::App* demo = app.add_subcommand(
      "demo", "Run a getdata exchange against a demo terminal on the simulated bus and print the line trace");
  demo->callback([&status] { status = run_demo(); });
}

}  // namespace tarvex::tool
