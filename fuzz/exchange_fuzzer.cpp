// A hostile terminal: the fuzz input picks an entry point, its arguments, the
// faults of the port, and every answer the terminal gives (after how many
// heard bytes, after what silence, with what gaps, which bytes). Whatever the
// terminal does, the call must end with a code from its own set, leave no
// port open, give back its scratch area, and write into caller memory only
// where it may. Every caller buffer is a heap block of exactly the size the
// call is owed, so AddressSanitizer reports any step past it.
//
// Input layout (little-endian, every field optional: a short input reads as
// zeros):
//   u8 entry point | u32 tick start | u8 tick cost (50 + 4 * v us) | u8 fault | u16 fault call
//   | u8 short write | u8 short write takes
//   | arguments: u8 n, u8 m, u8 N, u16 limit (% 6000 ms), u32 baud, u32 address, u8 code,
//     u8 count, u16 pool length, pool bytes (buffer contents, cyclic)
//   | u8 noise length, u16 noise start (x 100 us), noise bytes
//   | answers to the end: u8 after bytes, u16 delay (x 100 us),
//     u8 gap (x 100 us), u8 length, bytes
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <vector>

#include "exchange/blacklist.h"
#include "exchange/data_block.h"
#include "exchange/hex_exchange.h"
#include "exchange/hex_text.h"
#include "exchange/module.h"
#include "exchange/online_query.h"
#include "exchange/request_reply.h"
#include "fuzz_input.h"
#include "legacy/legacy_exchanges.h"
#include "line/held_port.h"
#include "scratch_ledger.h"
#include "sim/scripted_terminal.h"
#include "sim/sim_bus.h"

namespace tarvex::fuzz {
namespace {

namespace ex = exchange;
using Bytes = std::vector<std::uint8_t>;
constexpr const char* kPort = "COM1";

// The arguments an input describes; each entry point takes what it needs.
struct Shape {
  std::uint8_t n = 0, m = 0, reply_length = 0;
  std::uint16_t limit = 0;
  std::uint32_t baud = 0;
  std::int32_t address = 0;
  std::uint8_t code = 0, count = 0;
  Bytes pool;

  // `size` bytes of buffer content, from the pool at `offset`, cyclic.
  Bytes content(std::size_t size, std::size_t offset) const {
    Bytes out(size, 0);
    if (pool.empty()) return out;
    for (std::size_t i = 0; i < size; ++i) out[i] = pool[(offset + i) % pool.size()];
    return out;
  }
};

Shape read_shape(Reader& in) {
  Shape s;
  s.n = in.u8();
  s.m = in.u8();
  s.reply_length = in.u8();
  s.limit = static_cast<std::uint16_t>(in.u16() % 6000);  // past the longest fixed limit
  s.baud = in.u32();
  s.address = static_cast<std::int32_t>(in.u32());
  s.code = in.u8();
  s.count = in.u8();
  s.pool = in.bytes(std::min<std::size_t>(in.u16(), 1024));
  return s;
}

// A caller buffer of exactly its size, and what the caller put in it.
class Buffer {
 public:
  explicit Buffer(Bytes content)
      : original_(std::move(content)), bytes_(std::make_unique<std::uint8_t[]>(original_.size())) {
    std::copy(original_.begin(), original_.end(), bytes_.get());
  }
  std::uint8_t* data() { return bytes_.get(); }
  char* text() { return reinterpret_cast<char*>(bytes_.get()); }
  std::uint8_t operator[](std::size_t i) const { return bytes_[i]; }
  // True when only bytes in [first, last) differ from the caller's.
  bool changed_only(std::size_t first, std::size_t last) const {
    for (std::size_t i = 0; i < original_.size(); ++i) {
      if ((i < first || i >= last) && bytes_[i] != original_[i]) return false;
    }
    return true;
  }
  bool unchanged() const { return changed_only(0, 0); }

 private:
  Bytes original_;
  std::unique_ptr<std::uint8_t[]> bytes_;
};

bool checksum_holds(const Buffer& reply, std::size_t count) {
  std::uint8_t sum = 0;
  for (std::size_t i = 0; i < count; ++i) sum = static_cast<std::uint8_t>(sum + reply[i]);
  return reply[count] == sum;
}

std::size_t sz(std::int32_t v) {
  return static_cast<std::size_t>(v);
}

// One call: it may use the bus, the held port (kInvalidHandle for named
// members) and the scratch source, and checks caller memory itself.
struct Context {
  sim::SimBus& bus;
  line::Handle held;
  const ex::ScratchSource& scratch;
};
using Call = std::function<Result(Context&, const Shape&)>;

struct EntryPoint {
  const char* name;
  bool held;
  std::set<Result> results;
  Call call;
};

const std::set<Result> kChecked{kOk, kFrameNotSent, kReplyIncomplete, kReplyWrong};
const std::set<Result> kRaw{kOk, kFrameNotSent, kReplyIncomplete};

// ---- The families' argument shapes and what each may write ---------------

using RequestReply = std::function<Result(Context&, const Shape&, std::int32_t, std::uint8_t*,
                                          std::int32_t, std::uint8_t*)>;
Call request_reply(RequestReply member) {
  return [member](Context& c, const Shape& s) {
    const std::int32_t n = s.n % 9, reply_length = s.reply_length % 21;
    Buffer frame(s.content(std::max(sz(n) + 1, std::size_t{2}), 0));
    Buffer reply(s.content(sz(reply_length) + 1, 7));
    const Result result = member(c, s, n, frame.data(), reply_length, reply.data());
    require(frame.changed_only(sz(n), sz(n) + 1), "frame: only its checksum byte");
    require(result != kOk || reply_length == 0 || checksum_holds(reply, sz(reply_length)),
            "success only with a good reply checksum");
    return result;
  };
}

using DataBlock = std::function<Result(Context&, const Shape&, std::int32_t, std::uint8_t*,
                                       std::int32_t, std::uint8_t*)>;
Call data_block(bool fixed_block_for_c5, DataBlock member) {
  return [fixed_block_for_c5, member](Context& c, const Shape& s) {
    const std::int32_t n = s.n % 9, m = s.m % 21;
    Buffer frame(s.content(std::max(sz(n) + 1, std::size_t{2}), 0));
    // Command 0xC5 fixes the block at 10 bytes and its checksum: the caller
    // owes 11 bytes whatever m says.
    const bool fixed = fixed_block_for_c5 && frame[1] == 0xC5;
    const std::size_t block_checksum = fixed ? 10 : sz(m);
    Buffer block(s.content(fixed ? std::max(sz(m) + 1, std::size_t{11}) : sz(m) + 1, 5));
    const Result result = member(c, s, n, frame.data(), m, block.data());
    require(frame.changed_only(sz(n), sz(n) + 1), "frame: only its checksum byte");
    require(block.changed_only(block_checksum, block_checksum + 1),
            "block: only its checksum byte");
    return result;
  };
}

Call com_data() {
  return [](Context& c, const Shape& s) {
    const std::int32_t n = s.n % 9, m = s.m % 21, reply_length = s.reply_length % 21;
    Buffer frame(s.content(std::max(sz(n) + 1, std::size_t{2}), 0));
    Buffer block(s.content(sz(m) + 1, 5));
    Buffer reply(s.content(sz(reply_length) + 1, 7));
    const Result result = ex::HANDLE_ComData(c.bus, c.held, n, frame.data(), m, block.data(),
                                             reply_length, reply.data(), s.limit);
    require(frame.changed_only(sz(n), sz(n) + 1), "frame: only its checksum byte");
    require(block.changed_only(sz(m), sz(m) + 1), "block: only its checksum byte");
    require(result != kOk || reply_length == 0 || checksum_holds(reply, sz(reply_length)),
            "success only with a good reply checksum");
    return result;
  };
}

using Raw = std::function<Result(Context&, const Shape&, std::int32_t, const std::uint8_t*,
                                 std::int32_t, std::uint8_t*)>;
Call raw_module(Raw member) {
  return [member](Context& c, const Shape& s) {
    const std::int32_t n = s.n % 9, reply_length = s.reply_length % 21;
    Buffer frame(s.content(sz(n), 0));
    Buffer reply(s.content(sz(reply_length), 7));
    // An empty frame may come as no buffer at all.
    const std::uint8_t* frame_bytes = n == 0 && (s.code & 1) != 0 ? nullptr : frame.data();
    const Result result = member(c, s, n, frame_bytes, reply_length, reply.data());
    require(frame.unchanged(), "raw frame: never written");
    return result;
  };
}

using Online = std::function<Result(Context&, const Shape&, std::uint8_t*)>;
Call online(Online member) {
  return [member](Context& c, const Shape& s) {
    Buffer record(s.content(ex::kIdentityRecordSize, 3));
    const Result result = member(c, s, record.data());
    require(result == kOk || record.unchanged(), "record: untouched unless the query succeeded");
    return result;
  };
}

Call getdata_hex() {
  return [](Context& c, const Shape& s) {
    const std::int32_t n = s.n % (ex::kGetdataHexMaxCommand + 1),
                       reply_length = s.reply_length % 41;
    Buffer command(s.content(2 * sz(n), 0));
    Buffer reply(s.content(2 * (sz(reply_length) + 1), 9));
    const Result result =
        ex::getdata_hex(c.bus, n, command.text(), reply_length, reply.text(), kPort, c.scratch);
    require(command.unchanged(), "command text: never written");
    if (result == kOk && reply_length > 0) {
      Buffer decoded(Bytes(sz(reply_length) + 1, 0));
      ex::decode_hex(reply.text(), sz(reply_length) + 1, decoded.data(), ex::HexText::Block);
      require(checksum_holds(decoded, sz(reply_length)), "success only with a good reply checksum");
    }
    return result;
  };
}

Call senddata_hex() {
  return [](Context& c, const Shape& s) {
    const std::int32_t n = s.n % (ex::kSenddataHexMaxCommand + 1), m = s.m % 31;
    Buffer command(s.content(2 * sz(n), 0));
    Buffer block(s.content(2 * sz(m), 4));
    const Result result =
        ex::senddata_hex(c.bus, n, command.text(), m, block.text(), kPort, c.scratch);
    require(command.unchanged() && block.unchanged(), "texts: never written");
    return result;
  };
}

using Blacklist = std::function<Result(Context&, const Shape&, std::int32_t, Buffer&)>;
Call blacklist(std::size_t entry_size, Blacklist member) {
  return [entry_size, member](Context& c, const Shape& s) {
    const std::int32_t count = 1 + s.count % 64;
    Buffer list(s.content(entry_size * sz(count), 0));
    const Result result = member(c, s, count, list);
    require(list.unchanged(), "card list: never written");
    return result;
  };
}

const std::vector<EntryPoint>& entry_points() {
  using C = Context&;
  using S = const Shape&;
  using B = std::uint8_t*;
  using I = std::int32_t;
  static const std::vector<EntryPoint> all{
      {"getdata", false, kChecked, request_reply([](C c, S, I n, B f, I r, B b) {
         return ex::getdata(c.bus, n, f, r, b, kPort);
       })},
      {"nGetData", false, kChecked, request_reply([](C c, S s, I n, B f, I r, B b) {
         return ex::nGetData(c.bus, n, f, r, b, kPort, s.baud, s.limit);
       })},
      {"dxGetdata", false, kChecked, request_reply([](C c, S, I n, B f, I r, B b) {
         return ex::dxGetdata(c.bus, n, f, r, b, kPort);
       })},
      {"Nget", true, kChecked, request_reply([](C c, S, I n, B f, I r, B b) {
         return ex::Nget(c.bus, n, f, r, b, c.held);
       })},
      {"HANDLE_GetData", true, kChecked, request_reply([](C c, S s, I n, B f, I r, B b) {
         return ex::HANDLE_GetData(c.bus, c.held, n, f, r, b, s.limit);
       })},
      {"senddata", false, kChecked,
       data_block(true, [](C c, S, I n, B f, I m,
                           B b) { return ex::senddata(c.bus, n, f, m, b, kPort); })},
      {"nSendData", false, kChecked,
       data_block(true,
                  [](C c, S s, I n, B f, I m, B b) {
                    return ex::nSendData(c.bus, n, f, m, b, kPort, s.baud, s.limit);
                  })},
      {"dxSenddata", false, kChecked,
       data_block(true, [](C c, S, I n, B f, I m,
                           B b) { return ex::dxSenddata(c.bus, n, f, m, b, kPort); })},
      {"Nsend", true, kRaw,
       data_block(false,
                  [](C c, S, I n, B f, I m, B b) { return ex::Nsend(c.bus, n, f, m, b, c.held); })},
      {"HANDLE_SendData", true, kChecked,
       data_block(true,
                  [](C c, S s, I n, B f, I m, B b) {
                    return ex::HANDLE_SendData(c.bus, c.held, n, f, m, b, s.limit);
                  })},
      {"sendDataUIM", true, kChecked,
       data_block(true, [](C c, S s, I n, B f, I m,
                           B b) { return ex::sendDataUIM(c.bus, c.held, n, f, m, b, s.limit); })},
      {"HANDLE_ComData", true, kChecked, com_data()},
      {"getDataUIM", true, kRaw, raw_module([](C c, S s, I n, const std::uint8_t* f, I r, B b) {
         return ex::getDataUIM(c.bus, c.held, n, f, r, b, s.limit);
       })},
      {"sam_GetData", true, kRaw, raw_module([](C c, S s, I n, const std::uint8_t* f, I r, B b) {
         return ex::sam_GetData(c.bus, c.held, n, f, r, b, s.limit);
       })},
      {"onNet",
       false,
       {kOk, kFrameNotSent, kReplyIncomplete, kReplyWrong, kSecondFrameNotSent, kSecondFrameNotDrained,
        kSecondReplyIncomplete, kSecondReplyWrong},
       online([](C c, S s, B r) { return ex::onNet(c.bus, s.address, r, kPort); })},
      {"HANDLE_OnNet",
       true,
       {kOk, kFrameNotSent, kReplyIncomplete, kReplyWrong, kSecondReplyIncomplete,
        kSecondReplyWrong},
       online([](C c, S s, B r) { return ex::HANDLE_OnNet(c.bus, c.held, s.address, r); })},
      {"getdata_hex", false, kChecked, getdata_hex()},
      {"senddata_hex", false, kChecked, senddata_hex()},
      {"sendBlack", false, kChecked,
       blacklist(3,
                 [](C c, S s, I count, Buffer& l) {
                   return ex::sendBlack(c.bus, s.address, count, l.data(), kPort);
                 })},
      {"sendBlack_hex", false, kChecked,
       blacklist(6,
                 [](C c, S s, I count, Buffer& l) {
                   return ex::sendBlack_hex(c.bus, s.address, count, l.text(), kPort, c.scratch);
                 })},
      {"sSendBlack", false, kChecked,
       blacklist(3,
                 [](C c, S s, I count, Buffer& l) {
                   return ex::sSendBlack(c.bus, s.address, s.code, count, l.data(), kPort);
                 })},
      // The held port alone: opened at the input's baud and given back.
      {"com_init and com_exit", true, {kOk}, [](C, S) { return kOk; }},
      // The legacy build's two members with their older timing.
      {"getdata (legacy build)", false, kChecked, request_reply([](C c, S, I n, B f, I r, B b) {
         return legacy::getdata(c.bus, n, f, r, b, kPort);
       })},
      {"senddata (legacy build)", false, kChecked,
       data_block(true, [](C c, S, I n, B f, I m,
                           B b) { return legacy::senddata(c.bus, n, f, m, b, kPort); })},
  };
  return all;
}

// The terminal's behaviour: noise on the line from some moment on, then
// answers, each after so many bytes heard since the last one.
void script_terminal(Reader& in, sim::SimBus& bus, sim::ScriptedTerminal& terminal) {
  const std::size_t noise_length = in.u8() % 32;
  const std::uint64_t noise_at = std::uint64_t{in.u16()} * 100;
  const Bytes noise = in.bytes(noise_length);
  if (!noise.empty()) bus.inject(kPort, noise, noise_at);
  while (!in.empty()) {
    sim::ScriptedTerminal::Step step;
    step.after_bytes = in.u8() % 64;
    step.delay_us = std::uint64_t{in.u16()} * 100;
    step.gap_us = std::uint64_t{in.u8()} * 100;
    step.reply = in.bytes(in.u8() % 64);
    terminal.then(std::move(step));
  }
}

void set_faults(Reader& in, sim::Faults& faults) {
  const std::uint8_t kind = in.u8();
  const std::uint16_t at = in.u16();
  switch (kind % 4) {
    case 1:
      faults.at_call = at % 512;
      faults.read = sim::Faults::Read::Stop;
      break;
    case 2:
      faults.at_call = at % 512;
      faults.read = sim::Faults::Read::Garble;
      break;
    case 3: faults.queue_never_drains = true; break;
    default: break;
  }
  const std::uint8_t short_write = in.u8();
  const std::uint8_t takes = in.u8();
  if (short_write != 0) {
    faults.short_write_at = (short_write - 1u) % 8u;
    faults.short_write_takes = takes;
  }
}

}  // namespace
}  // namespace tarvex::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarvex;
  using namespace tarvex::fuzz;
  Reader in(data, size);
  const auto& entries = entry_points();
  const EntryPoint& entry = entries[in.u8() % entries.size()];
  const std::uint32_t tick_start = in.u32();
  // Tick readings are coarse: a drain wait that never sees its queue empty
  // spins to its limit, one reading at a time.
  const std::uint64_t tick_cost_us = 50u + 4u * in.u8();
  sim::SimBus bus(sim::SimBus::Options{.tick_start_ms = tick_start, .tick_cost_us = tick_cost_us});
  bus.add_port(kPort);
  const auto terminal = std::make_shared<sim::ScriptedTerminal>();
  bus.attach(kPort, terminal);
  set_faults(in, bus.faults());
  const Shape shape = read_shape(in);
  script_terminal(in, bus, *terminal);

  testing::ScratchLedger ledger;
  const exchange::ScratchSource scratch = ledger.source();
  const line::Handle held =
      entry.held ? line::com_init(bus, kPort, shape.baud) : line::kInvalidHandle;
  Context context{bus, held, scratch};
  const Result result = entry.call(context, shape);
  if (entry.held) {
    require(line::com_exit(bus, held) == kOk, "com_exit answers 0");
  }
  require(entry.results.contains(result), "a result from the entry point's own set");
  require(bus.open_handles() == 0, "no port left open");
  require(ledger.balanced(), "every scratch area given back");
  return 0;
}
