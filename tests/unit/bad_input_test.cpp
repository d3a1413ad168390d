// Arguments out of contract, over every entry point, family by family: the
// one home of these rows. Each call returns its documented code before it
// does anything else. Through the exported C
// functions of the shared object, caller memory must come back unchanged;
// through the C++ API on the simulated bus, also no platform call at all and
// no scratch area taken.
#include <array>
#include <climits>
#include <functional>
#include <iostream>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "entry_points.h"

namespace tarvex::testing {
namespace {

// Every buffer a call may be handed, each with a guard zone behind it, all
// filled with known content. A call out of contract changes none of them.
struct Buffers {
  static constexpr std::size_t kSize = 256;

  Buffers() {
    for (std::size_t i = 0; i < kSize; ++i) {
      frame[i] = block[i] = reply[i] = record[i] = list[i] = static_cast<std::uint8_t>(i * 7 + 1);
      text[i] = "0123456789ABCDEF"[i % 16];
    }
    frame[0] = 0x05;
    frame[1] = 0xA1;
    original = snapshot();
  }
  std::vector<std::uint8_t> snapshot() const {
    std::vector<std::uint8_t> all;
    for (const auto* buffer : {&frame, &block, &reply, &record, &list}) {
      all.insert(all.end(), buffer->begin(), buffer->end());
    }
    all.insert(all.end(), text.begin(), text.end());
    all.insert(all.end(), reply_text.begin(), reply_text.end());
    return all;
  }
  bool unchanged() const { return snapshot() == original; }
  // Unchanged but for the checksums of a three-byte frame and block.
  bool unchanged_but_checksums() const {
    Buffers copy = *this;
    copy.frame[3] = original[3];
    copy.block[3] = original[kSize + 3];
    return copy.unchanged();
  }

  std::array<std::uint8_t, kSize> frame{}, block{}, reply{}, record{}, list{};
  std::array<char, kSize> text{};        // command, block and card texts
  std::array<char, kSize> reply_text{};  // written only by getdata_hex
  std::vector<std::uint8_t> original;
};

using exports::kEntryPoints;

struct Row {
  std::string name;
  std::int64_t expected;  // a result code, or the port com_init gives back
  const EntryPoint* entry;
  bool legacy;  // the legacy build's own function
  std::function<void(Arguments&)> out_of_contract;
};

using A = Arguments&;

// A well-formed call's arguments: three-byte frames, blocks and replies,
// three cards, the port name and the held port of `p`.
Arguments well_formed(EntryPoints& p, Buffers& b) {
  return {.port_name = p.port_name(), .port = p.held_port(), .baud = 9600, .limit_ms = 200,
          .n = 3, .frame = b.frame.data(), .m = 3, .block = b.block.data(), .reply_length = 3,
          .reply = b.reply.data(), .command_text = b.text.data(), .block_length = 3,
          .block_text = b.text.data(), .reply_text = b.reply_text.data(), .address = 5,
          .address_word = 5, .command_code = 0xA5, .count = 3, .entries = b.list.data(),
          .text = b.text.data(), .record = b.record.data(), .in = b.record.data(),
          .out = b.reply.data()};
}

// What is out of contract in a call, and the code that gives.
struct Case {
  std::string what;
  std::int64_t expected;
  std::function<void(Arguments&)> out_of_contract;
  std::string_view only_with = {};  // a row only for the members that take this parameter
};

// A row for each case and each member of `family`, the legacy build's own
// functions after them.
void for_each_member(std::vector<Row>& rows, exports::Family family, const std::vector<Case>& cases) {
  for (const bool legacy : {false, true}) {
    for (const EntryPoint& e : kEntryPoints) {
      if (e.family != family || (legacy && e.legacy_call == nullptr)) continue;
      const std::string member = std::string(e.name) + (legacy ? " (legacy build)" : "");
      for (const Case& c : cases) {
        if (c.only_with.empty() || e.takes(c.only_with)) {
          rows.push_back({member + ": " + c.what, c.expected, &e, legacy, c.out_of_contract});
        }
      }
    }
  }
}
// Rows of one member.
void add(std::vector<Row>& rows, const EntryPoint& e, const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    rows.push_back({std::string(e.name) + ": " + c.what, c.expected, &e, false, c.out_of_contract});
  }
}

std::vector<Row> held_port_rows() {
  std::vector<Row> t;
  add(t, exports::entry_point("com_init"),
      {{"null port name", TARVEX_INVALID_PORT, [](A a) { a.port_name = nullptr; }}});
  return t;
}

// A count whose checksum byte cannot be counted in 32 bits has no room for
// its checksum.
std::vector<Row> request_reply_rows() {
  std::vector<Row> t;
  for_each_member(t, exports::Family::RequestReply,
                  {{"negative n", 2, [](A a) { a.n = -1; }},
                   {"negative N", 2, [](A a) { a.reply_length = -1; }},
                   {"n with no room for its checksum", 2, [](A a) { a.n = INT_MAX; }},
                   {"N with no room for its checksum", 2, [](A a) { a.reply_length = INT_MAX; }},
                   {"null frame", 2, [](A a) { a.frame = nullptr; }},
                   {"null reply", 2, [](A a) { a.reply = nullptr; }},
                   {"null port name", 2, [](A a) { a.port_name = nullptr; }, "port_name"}});
  return t;
}

std::vector<Row> data_block_rows() {
  std::vector<Row> t;
  for_each_member(t, exports::Family::DataBlock,
                  {{"negative n", 2, [](A a) { a.n = -1; }},
                   {"negative m", 2, [](A a) { a.m = -1; }},
                   {"n with no room for its checksum", 2, [](A a) { a.n = INT_MAX; }},
                   {"m with no room for its checksum", 2, [](A a) { a.m = INT_MAX; }},
                   {"null frame", 2, [](A a) { a.frame = nullptr; }},
                   {"null block", 2, [](A a) { a.block = nullptr; }},
                   // The block's checksum goes into byte 0 even when m is 0.
                   {"null block with m = 0", 2, [](A a) { a.m = 0, a.block = nullptr; }},
                   {"null port name", 2, [](A a) { a.port_name = nullptr; }, "port_name"}});
  return t;
}

std::vector<Row> hex_text_rows() {
  std::vector<Row> t;
  add(t, exports::entry_point("getdata_hex"),
      {{"n above 99", 2, [](A a) { a.n = 100; }},
       {"negative n", 2, [](A a) { a.n = -1; }},
       {"negative N", 2, [](A a) { a.reply_length = -1; }},
       {"N with no room for its checksum", 2, [](A a) { a.reply_length = INT_MAX; }},
       {"null command text", 2, [](A a) { a.command_text = nullptr; }},
       {"null reply text", 2, [](A a) { a.reply_text = nullptr; }},
       {"null port name", 2, [](A a) { a.port_name = nullptr; }}});
  add(t, exports::entry_point("senddata_hex"),
      {{"n above 11", 2, [](A a) { a.n = 12; }},
       {"negative n", 2, [](A a) { a.n = -1; }},
       {"negative m", 2, [](A a) { a.block_length = -1; }},
       {"m with no room for its checksum", 2, [](A a) { a.block_length = INT_MAX; }},
       {"null command text", 2, [](A a) { a.command_text = nullptr; }},
       {"null block text", 2, [](A a) { a.block_text = nullptr; }},
       {"null port name", 2, [](A a) { a.port_name = nullptr; }}});
  return t;
}

// The list, as entries or as text, whichever the member takes.
std::vector<Row> blacklist_rows() {
  std::vector<Row> t;
  for_each_member(t, exports::Family::Blacklist,
                  {{"count 0", 6, [](A a) { a.count = 0; }},
                   {"count -1", 6, [](A a) { a.count = -1; }},
                   {"count " + std::to_string(INT_MIN), 6, [](A a) { a.count = INT_MIN; }},
                   {"empty list, nothing else given", 6,
                    [](A a) { a.count = 0, a.entries = nullptr, a.text = nullptr, a.port_name = nullptr; }},
                   {"null list", 2, [](A a) { a.entries = nullptr, a.text = nullptr; }},
                   {"null port name", 2, [](A a) { a.port_name = nullptr; }}});
  return t;
}

std::vector<Row> module_rows() {
  std::vector<Row> t;
  add(t, exports::entry_point("HANDLE_ComData"),
      {{"negative n", 2, [](A a) { a.n = -1; }},
       {"negative m", 2, [](A a) { a.m = -1; }},
       {"negative N", 2, [](A a) { a.reply_length = -1; }},
       {"n with no room for its checksum", 2, [](A a) { a.n = INT_MAX; }},
       {"m with no room for its checksum", 2, [](A a) { a.m = INT_MAX; }},
       {"N with no room for its checksum", 2, [](A a) { a.reply_length = INT_MAX; }},
       {"null frame", 2, [](A a) { a.frame = nullptr; }},
       {"null block", 2, [](A a) { a.block = nullptr; }},
       {"null reply", 2, [](A a) { a.reply = nullptr; }}});
  const std::vector<Case> raw = {{"negative n", 2, [](A a) { a.n = -1; }},
                                 {"negative N", 2, [](A a) { a.reply_length = -1; }},
                                 {"null frame", 2, [](A a) { a.frame = nullptr; }},
                                 {"null reply", 2, [](A a) { a.reply = nullptr; }}};
  add(t, exports::entry_point("getDataUIM"), raw);
  add(t, exports::entry_point("sam_GetData"), raw);
  add(t, exports::entry_point("sam_GetData"), {{"n = 1, half an address", 2, [](A a) { a.n = 1; }}});
  return t;
}

std::vector<Row> online_query_rows() {
  std::vector<Row> t;
  add(t, exports::entry_point("onNet"),
      {{"null record", 2, [](A a) { a.record = nullptr; }},
       {"null port name", 2, [](A a) { a.port_name = nullptr; }}});
  add(t, exports::entry_point("HANDLE_OnNet"), {{"null record", 2, [](A a) { a.record = nullptr; }}});
  return t;
}

// A transform's two buffers, each left out in turn.
std::vector<Case> transform_cases(std::int64_t code) {
  return {{"null input", code, [](A a) { a.in = nullptr; }, "in"},
          {"null output", code, [](A a) { a.out = nullptr; }, "out"}};
}
std::vector<Row> lock_transform_rows() {
  std::vector<Row> t;
  for_each_member(t, exports::Family::LockTransform, transform_cases(1));
  return t;
}
std::vector<Row> small_codec_rows() {
  std::vector<Row> t;
  for_each_member(t, exports::Family::SmallCodec, transform_cases(2));
  return t;
}

// Each family's rows: a failing row names its family in the test's name.
struct Family {
  const char* name;
  std::vector<Row> (*rows)();
};

const Family kFamilies[] = {
    {"HeldPort", held_port_rows},         {"RequestReply", request_reply_rows},
    {"DataBlock", data_block_rows},       {"HexText", hex_text_rows},
    {"Blacklist", blacklist_rows},        {"Module", module_rows},
    {"OnlineQuery", online_query_rows},   {"LockTransforms", lock_transform_rows},
    {"SmallCodecs", small_codec_rows},
};

std::string family_name(const ::testing::TestParamInfo<Family>& info) { return info.param.name; }
void PrintTo(const Family& family, std::ostream* out) { *out << family.name; }

class BadInput : public ::testing::TestWithParam<Family> {};
INSTANTIATE_TEST_SUITE_P(Family, BadInput, ::testing::ValuesIn(kFamilies), family_name);

TEST_P(BadInput, ExportedFunctionsReturnTheirCodeAndLeaveCallerMemoryAlone) {
  const std::vector<Row> rows = GetParam().rows();
  std::cout << "bad input, " << GetParam().name << ": " << rows.size() << " calls out of contract\n";
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ExportedEntryPoints library;
    Buffers buffers;
    Arguments arguments = well_formed(library, buffers);
    row.out_of_contract(arguments);
    EXPECT_EQ(library.call(*row.entry, row.legacy, arguments), row.expected);
    EXPECT_TRUE(buffers.unchanged());
  }
}

// Well-formed calls with nothing to talk to: a port name that names no
// device, the invalid held port. Each exchange gives 2 and reads nothing;
// com_init gives the invalid port, com_exit 0.
TEST(BadInput, ExportedExchangesWithNoPortGiveTwo) {
  for (const bool legacy : {false, true}) {
    for (const EntryPoint& e : kEntryPoints) {
      if (e.family == exports::Family::LockTransform || e.family == exports::Family::SmallCodec ||
          (legacy && e.legacy_call == nullptr)) {
        continue;
      }
      SCOPED_TRACE(std::string(e.name) + (legacy ? " (legacy build)" : ""));
      ExportedEntryPoints library;
      Buffers buffers;
      const std::int64_t expected = e.name == "com_init"   ? TARVEX_INVALID_PORT
                                    : e.name == "com_exit" ? 0
                                                           : 2;
      EXPECT_EQ(library.call(e, legacy, well_formed(library, buffers)), expected);
      EXPECT_TRUE(buffers.unchanged_but_checksums());
    }
  }
}

// Each family at both tick starts.
class BadInputOnTheBus : public ::testing::TestWithParam<std::tuple<std::uint32_t, Family>> {};
INSTANTIATE_TEST_SUITE_P(
    TickStart, BadInputOnTheBus,
    ::testing::Combine(::testing::Values(0u, 0xFFFFFFF0u), ::testing::ValuesIn(kFamilies)),
    [](const auto& test) {
      return std::string(std::get<0>(test.param) == 0 ? "FromZero_" : "AcrossWrap_") +
             std::get<1>(test.param).name;
    });

TEST_P(BadInputOnTheBus, NoPlatformCallNoScratchAreaNoCallerByte) {
  const auto& [tick_start, family] = GetParam();
  for (const Row& row : family.rows()) {
    SCOPED_TRACE(row.name);
    SimulatedEntryPoints library(tick_start);
    Buffers buffers;
    Arguments arguments = well_formed(library, buffers);
    row.out_of_contract(arguments);
    EXPECT_EQ(library.call(*row.entry, row.legacy, arguments), row.expected);
    EXPECT_EQ(library.platform_calls(), 0u);
    EXPECT_TRUE(library.ledger().sizes.empty());
    EXPECT_TRUE(buffers.unchanged());
  }
}

}  // namespace
}  // namespace tarvex::testing
