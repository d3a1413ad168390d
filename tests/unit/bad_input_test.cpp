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

struct Row {
  std::string name;
  std::int64_t expected;  // a result code, or the port com_init gives back
  std::function<std::int64_t(EntryPoints&, Buffers&)> call;
};

using P = EntryPoints&;
using B = Buffers&;
constexpr std::uint32_t kBaud = 9600;
constexpr std::uint32_t kLimit = 200;

// The request/reply shape, by name or on a held port: n, frame, N, reply and
// the port.
using RequestReply = std::function<std::int32_t(P, std::int32_t, std::uint8_t*, std::int32_t,
                                                std::uint8_t*, const char* name)>;
void request_reply(std::vector<Row>& rows, const std::string& member, bool by_name,
                   RequestReply call) {
  rows.push_back({member + ": negative n", 2, [call](P p, B b) {
                    return call(p, -1, b.frame.data(), 3, b.reply.data(), p.port_name());
                  }});
  rows.push_back({member + ": negative N", 2, [call](P p, B b) {
                    return call(p, 3, b.frame.data(), -1, b.reply.data(), p.port_name());
                  }});
  // A count whose checksum byte cannot be counted in 32 bits.
  rows.push_back({member + ": n with no room for its checksum", 2, [call](P p, B b) {
                    return call(p, INT_MAX, b.frame.data(), 3, b.reply.data(), p.port_name());
                  }});
  rows.push_back({member + ": N with no room for its checksum", 2, [call](P p, B b) {
                    return call(p, 3, b.frame.data(), INT_MAX, b.reply.data(), p.port_name());
                  }});
  rows.push_back({member + ": null frame", 2, [call](P p, B b) {
                    return call(p, 3, nullptr, 3, b.reply.data(), p.port_name());
                  }});
  rows.push_back({member + ": null reply", 2, [call](P p, B b) {
                    return call(p, 3, b.frame.data(), 3, nullptr, p.port_name());
                  }});
  if (by_name) {
    rows.push_back({member + ": null port name", 2, [call](P p, B b) {
                      return call(p, 3, b.frame.data(), 3, b.reply.data(), nullptr);
                    }});
  }
}

// The data-block shape: n, frame, m, block and the port.
using DataBlock = std::function<std::int32_t(P, std::int32_t, std::uint8_t*, std::int32_t,
                                             std::uint8_t*, const char* name)>;
void data_block(std::vector<Row>& rows, const std::string& member, bool by_name, DataBlock call) {
  rows.push_back({member + ": negative n", 2, [call](P p, B b) {
                    return call(p, -1, b.frame.data(), 3, b.block.data(), p.port_name());
                  }});
  rows.push_back({member + ": negative m", 2, [call](P p, B b) {
                    return call(p, 3, b.frame.data(), -1, b.block.data(), p.port_name());
                  }});
  rows.push_back({member + ": n with no room for its checksum", 2, [call](P p, B b) {
                    return call(p, INT_MAX, b.frame.data(), 3, b.block.data(), p.port_name());
                  }});
  rows.push_back({member + ": m with no room for its checksum", 2, [call](P p, B b) {
                    return call(p, 3, b.frame.data(), INT_MAX, b.block.data(), p.port_name());
                  }});
  rows.push_back({member + ": null frame", 2, [call](P p, B b) {
                    return call(p, 3, nullptr, 3, b.block.data(), p.port_name());
                  }});
  rows.push_back({member + ": null block", 2, [call](P p, B b) {
                    return call(p, 3, b.frame.data(), 3, nullptr, p.port_name());
                  }});
  // The block's checksum goes into byte 0 even when m is 0.
  rows.push_back({member + ": null block with m = 0", 2, [call](P p, B b) {
                    return call(p, 3, b.frame.data(), 0, nullptr, p.port_name());
                  }});
  if (by_name) {
    rows.push_back({member + ": null port name", 2, [call](P p, B b) {
                      return call(p, 3, b.frame.data(), 3, b.block.data(), nullptr);
                    }});
  }
}

// The blacklist shape: count, the list (bytes or text) and the port name.
using Blacklist = std::function<std::int32_t(P, std::int32_t, const void* list, const char* name)>;
void blacklist(std::vector<Row>& rows, const std::string& member, Blacklist call) {
  for (const std::int32_t count : {0, -1, INT_MIN}) {
    rows.push_back({member + ": count " + std::to_string(count), 6, [call, count](P p, B b) {
                      return call(p, count, b.list.data(), p.port_name());
                    }});
  }
  rows.push_back({member + ": empty list, nothing else given", 6,
                  [call](P p, B) { return call(p, 0, nullptr, nullptr); }});
  rows.push_back(
      {member + ": null list", 2, [call](P p, B) { return call(p, 3, nullptr, p.port_name()); }});
  rows.push_back({member + ": null port name", 2,
                  [call](P p, B b) { return call(p, 3, b.list.data(), nullptr); }});
}

// The raw module shape on a held port: n, frame, N, reply.
using Raw =
    std::function<std::int32_t(P, std::int32_t, const std::uint8_t*, std::int32_t, std::uint8_t*)>;
void raw_module(std::vector<Row>& rows, const std::string& member, Raw call) {
  rows.push_back({member + ": negative n", 2,
                  [call](P p, B b) { return call(p, -1, b.frame.data(), 3, b.reply.data()); }});
  rows.push_back({member + ": negative N", 2,
                  [call](P p, B b) { return call(p, 3, b.frame.data(), -1, b.reply.data()); }});
  rows.push_back({member + ": null frame", 2,
                  [call](P p, B b) { return call(p, 3, nullptr, 3, b.reply.data()); }});
  rows.push_back({member + ": null reply", 2,
                  [call](P p, B b) { return call(p, 3, b.frame.data(), 3, nullptr); }});
}

// A transform's two buffers, each left out in turn.
using Transform = std::function<std::int32_t(P, const std::uint8_t*, std::uint8_t*)>;
void transform(std::vector<Row>& rows, const std::string& member, std::int64_t code,
               Transform call) {
  rows.push_back({member + ": null input", code,
                  [call](P p, B b) { return call(p, nullptr, b.reply.data()); }});
  rows.push_back({member + ": null output", code,
                  [call](P p, B b) { return call(p, b.record.data(), nullptr); }});
}

std::vector<Row> held_port_rows() {
  std::vector<Row> t;
  t.push_back({"com_init: null port name", TARVEX_INVALID_PORT,
               [](P p, B) { return p.com_init(nullptr, kBaud); }});

  return t;
}

std::vector<Row> request_reply_rows() {
  std::vector<Row> t;
  request_reply(t, "getdata", true, [](P p, auto n, auto f, auto r, auto reply, auto name) {
    return p.getdata(n, f, r, reply, name);
  });
  request_reply(t, "nGetData", true, [](P p, auto n, auto f, auto r, auto reply, auto name) {
    return p.nGetData(n, f, r, reply, name, kBaud, kLimit);
  });
  request_reply(t, "dxGetdata", true, [](P p, auto n, auto f, auto r, auto reply, auto name) {
    return p.dxGetdata(n, f, r, reply, name);
  });
  request_reply(t, "Nget", false, [](P p, auto n, auto f, auto r, auto reply, auto) {
    return p.Nget(n, f, r, reply, p.held_port());
  });
  request_reply(t, "HANDLE_GetData", false, [](P p, auto n, auto f, auto r, auto reply, auto) {
    return p.HANDLE_GetData(p.held_port(), n, f, r, reply, kLimit);
  });

  request_reply(t, "getdata (legacy build)", true,
                [](P p, auto n, auto f, auto r, auto reply, auto name) {
                  return p.legacy_getdata(n, f, r, reply, name);
                });
  return t;
}

std::vector<Row> data_block_rows() {
  std::vector<Row> t;
  data_block(t, "senddata (legacy build)", true,
             [](P p, auto n, auto f, auto m, auto b, auto name) {
               return p.legacy_senddata(n, f, m, b, name);
             });
  data_block(t, "senddata", true, [](P p, auto n, auto f, auto m, auto b, auto name) {
    return p.senddata(n, f, m, b, name);
  });
  data_block(t, "nSendData", true, [](P p, auto n, auto f, auto m, auto b, auto name) {
    return p.nSendData(n, f, m, b, name, kBaud, kLimit);
  });
  data_block(t, "dxSenddata", true, [](P p, auto n, auto f, auto m, auto b, auto name) {
    return p.dxSenddata(n, f, m, b, name);
  });
  data_block(t, "Nsend", false, [](P p, auto n, auto f, auto m, auto b, auto) {
    return p.Nsend(n, f, m, b, p.held_port());
  });
  data_block(t, "HANDLE_SendData", false, [](P p, auto n, auto f, auto m, auto b, auto) {
    return p.HANDLE_SendData(p.held_port(), n, f, m, b, kLimit);
  });
  data_block(t, "sendDataUIM", false, [](P p, auto n, auto f, auto m, auto b, auto) {
    return p.sendDataUIM(p.held_port(), n, f, m, b, kLimit);
  });

  return t;
}

std::vector<Row> hex_text_rows() {
  std::vector<Row> t;
  const auto getdata_hex = [](std::int32_t n, std::int32_t r, bool command, bool reply, bool name) {
    return [=](P p, B b) {
      return p.getdata_hex(n, command ? b.text.data() : nullptr, r,
                           reply ? b.reply_text.data() : nullptr, name ? p.port_name() : nullptr);
    };
  };
  t.push_back({"getdata_hex: n above 99", 2, getdata_hex(100, 3, true, true, true)});
  t.push_back({"getdata_hex: negative n", 2, getdata_hex(-1, 3, true, true, true)});
  t.push_back({"getdata_hex: negative N", 2, getdata_hex(3, -1, true, true, true)});
  t.push_back({"getdata_hex: N with no room for its checksum", 2,
               getdata_hex(3, INT_MAX, true, true, true)});
  t.push_back({"getdata_hex: null command text", 2, getdata_hex(3, 3, false, true, true)});
  t.push_back({"getdata_hex: null reply text", 2, getdata_hex(3, 3, true, false, true)});
  t.push_back({"getdata_hex: null port name", 2, getdata_hex(3, 3, true, true, false)});

  const auto senddata_hex = [](std::int32_t n, std::int32_t m, bool command, bool block,
                               bool name) {
    return [=](P p, B b) {
      return p.senddata_hex(n, command ? b.text.data() : nullptr, m,
                            block ? b.text.data() : nullptr, name ? p.port_name() : nullptr);
    };
  };
  t.push_back({"senddata_hex: n above 11", 2, senddata_hex(12, 3, true, true, true)});
  t.push_back({"senddata_hex: negative n", 2, senddata_hex(-1, 3, true, true, true)});
  t.push_back({"senddata_hex: negative m", 2, senddata_hex(3, -1, true, true, true)});
  t.push_back({"senddata_hex: m with no room for its checksum", 2,
               senddata_hex(3, INT_MAX, true, true, true)});
  t.push_back({"senddata_hex: null command text", 2, senddata_hex(3, 3, false, true, true)});
  t.push_back({"senddata_hex: null block text", 2, senddata_hex(3, 3, true, false, true)});
  t.push_back({"senddata_hex: null port name", 2, senddata_hex(3, 3, true, true, false)});

  return t;
}

std::vector<Row> blacklist_rows() {
  std::vector<Row> t;
  blacklist(t, "sendBlack", [](P p, std::int32_t count, const void* list, const char* name) {
    return p.sendBlack(5, count, static_cast<const std::uint8_t*>(list), name);
  });
  blacklist(t, "sendBlack_hex", [](P p, std::int32_t count, const void* list, const char* name) {
    return p.sendBlack_hex(5, count, static_cast<const char*>(list), name);
  });
  blacklist(t, "sSendBlack", [](P p, std::int32_t count, const void* list, const char* name) {
    return p.sSendBlack(5, 0xA5, count, static_cast<const std::uint8_t*>(list), name);
  });

  return t;
}

std::vector<Row> module_rows() {
  std::vector<Row> t;
  const auto com_data = [](std::int32_t n, std::int32_t m, std::int32_t r, bool frame, bool block,
                           bool reply) {
    return [=](P p, B b) {
      return p.HANDLE_ComData(p.held_port(), n, frame ? b.frame.data() : nullptr, m,
                              block ? b.block.data() : nullptr, r, reply ? b.reply.data() : nullptr,
                              kLimit);
    };
  };
  t.push_back({"HANDLE_ComData: negative n", 2, com_data(-1, 3, 3, true, true, true)});
  t.push_back({"HANDLE_ComData: negative m", 2, com_data(3, -1, 3, true, true, true)});
  t.push_back({"HANDLE_ComData: negative N", 2, com_data(3, 3, -1, true, true, true)});
  t.push_back({"HANDLE_ComData: n with no room for its checksum", 2,
               com_data(INT_MAX, 3, 3, true, true, true)});
  t.push_back({"HANDLE_ComData: m with no room for its checksum", 2,
               com_data(3, INT_MAX, 3, true, true, true)});
  t.push_back({"HANDLE_ComData: N with no room for its checksum", 2,
               com_data(3, 3, INT_MAX, true, true, true)});
  t.push_back({"HANDLE_ComData: null frame", 2, com_data(3, 3, 3, false, true, true)});
  t.push_back({"HANDLE_ComData: null block", 2, com_data(3, 3, 3, true, false, true)});
  t.push_back({"HANDLE_ComData: null reply", 2, com_data(3, 3, 3, true, true, false)});

  raw_module(t, "getDataUIM", [](P p, auto n, auto f, auto r, auto reply) {
    return p.getDataUIM(p.held_port(), n, f, r, reply, kLimit);
  });
  raw_module(t, "sam_GetData", [](P p, auto n, auto f, auto r, auto reply) {
    return p.sam_GetData(p.held_port(), n, f, r, reply, kLimit);
  });
  t.push_back({"sam_GetData: n = 1, half an address", 2, [](P p, B b) {
                 return p.sam_GetData(p.held_port(), 1, b.frame.data(), 3, b.reply.data(), kLimit);
               }});

  return t;
}

std::vector<Row> online_query_rows() {
  std::vector<Row> t;
  t.push_back({"onNet: null record", 2, [](P p, B) { return p.onNet(5, nullptr, p.port_name()); }});
  t.push_back(
      {"onNet: null port name", 2, [](P p, B b) { return p.onNet(5, b.record.data(), nullptr); }});
  t.push_back({"HANDLE_OnNet: null record", 2,
               [](P p, B) { return p.HANDLE_OnNet(p.held_port(), 5, nullptr); }});

  return t;
}

std::vector<Row> lock_transform_rows() {
  std::vector<Row> t;
  transform(t, "keylock", 1, [](P p, auto in, auto out) { return p.keylock(0, in, out); });
  transform(t, "cardLock", 1, [](P p, auto in, auto out) { return p.cardLock(0, in, out); });
  transform(t, "faka_485", 1, [](P p, auto in, auto out) { return p.faka_485(0, in, out); });
  transform(t, "faka_4852", 1, [](P p, auto in, auto out) { return p.faka_4852(0, in, out); });
  transform(t, "fakaUnlock", 1, [](P p, auto in, auto out) { return p.fakaUnlock(0, in, out); });
  return t;
}

std::vector<Row> small_codec_rows() {
  std::vector<Row> t;
  transform(t, "abcd", 2, [](P p, auto in, auto out) { return p.abcd(in, out, 0); });
  transform(t, "change", 2, [](P p, auto in, auto out) { return p.change(in, out); });
  transform(t, "ascc", 2, [](P p, auto in, auto out) { return p.ascc(in, out); });
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
    EXPECT_EQ(row.call(library, buffers), row.expected);
    EXPECT_TRUE(buffers.unchanged());
  }
}

// Well-formed calls with nothing to talk to: a port name that names no
// device, the invalid held port. Each exchange gives 2 and reads nothing.
TEST(BadInput, ExportedExchangesWithNoPortGiveTwo) {
  const Row cases[] = {
      {"com_init", TARVEX_INVALID_PORT, [](P p, B) { return p.com_init(p.port_name(), kBaud); }},
      {"com_exit", 0, [](P p, B) { return p.com_exit(p.held_port()); }},
      {"getdata", 2,
       [](P p, B b) { return p.getdata(3, b.frame.data(), 3, b.reply.data(), p.port_name()); }},
      {"nGetData", 2,
       [](P p, B b) {
         return p.nGetData(3, b.frame.data(), 3, b.reply.data(), p.port_name(), kBaud, kLimit);
       }},
      {"dxGetdata", 2,
       [](P p, B b) { return p.dxGetdata(3, b.frame.data(), 3, b.reply.data(), p.port_name()); }},
      {"Nget", 2,
       [](P p, B b) { return p.Nget(3, b.frame.data(), 3, b.reply.data(), p.held_port()); }},
      {"HANDLE_GetData", 2,
       [](P p, B b) {
         return p.HANDLE_GetData(p.held_port(), 3, b.frame.data(), 3, b.reply.data(), kLimit);
       }},
      {"getdata (legacy build)", 2,
       [](P p, B b) {
         return p.legacy_getdata(3, b.frame.data(), 3, b.reply.data(), p.port_name());
       }},
      {"senddata (legacy build)", 2,
       [](P p, B b) {
         return p.legacy_senddata(3, b.frame.data(), 3, b.block.data(), p.port_name());
       }},
      {"senddata", 2,
       [](P p, B b) { return p.senddata(3, b.frame.data(), 3, b.block.data(), p.port_name()); }},
      {"nSendData", 2,
       [](P p, B b) {
         return p.nSendData(3, b.frame.data(), 3, b.block.data(), p.port_name(), kBaud, kLimit);
       }},
      {"dxSenddata", 2,
       [](P p, B b) { return p.dxSenddata(3, b.frame.data(), 3, b.block.data(), p.port_name()); }},
      {"Nsend", 2,
       [](P p, B b) { return p.Nsend(3, b.frame.data(), 3, b.block.data(), p.held_port()); }},
      {"HANDLE_SendData", 2,
       [](P p, B b) {
         return p.HANDLE_SendData(p.held_port(), 3, b.frame.data(), 3, b.block.data(), kLimit);
       }},
      {"sendDataUIM", 2,
       [](P p, B b) {
         return p.sendDataUIM(p.held_port(), 3, b.frame.data(), 3, b.block.data(), kLimit);
       }},
      {"getdata_hex", 2,
       [](P p, B b) {
         return p.getdata_hex(3, b.text.data(), 3, b.reply_text.data(), p.port_name());
       }},
      {"senddata_hex", 2,
       [](P p, B b) { return p.senddata_hex(3, b.text.data(), 3, b.text.data(), p.port_name()); }},
      {"sendBlack", 2, [](P p, B b) { return p.sendBlack(5, 3, b.list.data(), p.port_name()); }},
      {"sendBlack_hex", 2,
       [](P p, B b) { return p.sendBlack_hex(5, 3, b.text.data(), p.port_name()); }},
      {"sSendBlack", 2,
       [](P p, B b) { return p.sSendBlack(5, 0xA5, 3, b.list.data(), p.port_name()); }},
      {"HANDLE_ComData", 2,
       [](P p, B b) {
         return p.HANDLE_ComData(p.held_port(), 3, b.frame.data(), 3, b.block.data(), 3,
                                 b.reply.data(), kLimit);
       }},
      {"getDataUIM", 2,
       [](P p, B b) {
         return p.getDataUIM(p.held_port(), 3, b.frame.data(), 3, b.reply.data(), kLimit);
       }},
      {"sam_GetData", 2,
       [](P p, B b) {
         return p.sam_GetData(p.held_port(), 3, b.frame.data(), 3, b.reply.data(), kLimit);
       }},
      {"onNet", 2, [](P p, B b) { return p.onNet(5, b.record.data(), p.port_name()); }},
      {"HANDLE_OnNet", 2,
       [](P p, B b) { return p.HANDLE_OnNet(p.held_port(), 5, b.record.data()); }},
  };
  for (const Row& row : cases) {
    SCOPED_TRACE(row.name);
    ExportedEntryPoints library;
    Buffers buffers;
    EXPECT_EQ(row.call(library, buffers), row.expected);
    EXPECT_TRUE(buffers.unchanged_but_checksums());
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
    EXPECT_EQ(row.call(library, buffers), row.expected);
    EXPECT_EQ(library.platform_calls(), 0u);
    EXPECT_TRUE(library.ledger().sizes.empty());
    EXPECT_TRUE(buffers.unchanged());
  }
}

}  // namespace
}  // namespace tarvex::testing
