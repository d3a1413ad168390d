// Parsing bytes, addresses and counts from the command line, and the JSON
// the tool writes for scripts.
#include "tools/text_input.h"

#include <gtest/gtest.h>

#include <optional>
#include <sstream>

#include "tools/exit_status.h"
#include "tools/report.h"

namespace tarvex::testing {
namespace {

using tool::Bytes;

struct HexCase {
  const char* text;
  std::optional<Bytes> bytes;  // none: refused
};

const HexCase kHex[] = {
    {"05C2", Bytes{0x05, 0xC2}},
    {"05 c2", Bytes{0x05, 0xC2}},
    {"0x05c2", Bytes{0x05, 0xC2}},
    {"05:C2-7f", Bytes{0x05, 0xC2, 0x7F}},
    {"", Bytes{}},
    {"5", std::nullopt},
    {"05 C", std::nullopt},
    {"0 5", std::nullopt},
    {"05 G2", std::nullopt},
    {"05,C2", std::nullopt},
    {"0102030405", std::nullopt},  // longer than the four bytes allowed here
};

TEST(TextInput, HexBytes) {
  for (const HexCase& c : kHex) {
    SCOPED_TRACE(c.text);
    if (c.bytes) {
      EXPECT_EQ(tool::parse_hex(c.text, "FRAME", 4), *c.bytes);
    } else {
      EXPECT_THROW(tool::parse_hex(c.text, "FRAME", 4), tool::UsageError);
    }
  }
}

TEST(TextInput, BytesAndCounts) {
  EXPECT_EQ(tool::parse_byte("05", "ADDRESS"), 0x05);
  EXPECT_EQ(tool::parse_byte("0x31", "ADDRESS"), 0x31);
  EXPECT_EQ(tool::parse_byte("fF", "ADDRESS"), 0xFF);
  for (const char* bad : {"", "0x", "100", "g1", "-1"}) {
    EXPECT_THROW(tool::parse_byte(bad, "ADDRESS"), tool::UsageError) << bad;
  }
  EXPECT_EQ(tool::parse_count("0", "LENGTH", 4096), 0u);
  EXPECT_EQ(tool::parse_count("4096", "LENGTH", 4096), 4096u);
  for (const char* bad : {"", "4097", "-1", "1.5", "184467440737095516160"}) {
    EXPECT_THROW(tool::parse_count(bad, "LENGTH", 4096), tool::UsageError) << bad;
  }
}

TEST(TextInput, ErrorsNameTheArgument) {
  try {
    tool::parse_hex("05G2", "BLOCK", 10);
    FAIL();
  } catch (const tool::UsageError& e) {
    EXPECT_EQ(std::string(e.what()).rfind("BLOCK: 'G' at position 3", 0), 0u) << e.what();
    EXPECT_EQ(e.status(), tool::kUsage);
  }
}

TEST(JsonWriter, EscapesAndSeparates) {
  const std::string json = tool::json_object({{"text", tool::json_string("a \"b\" \\ c\n\x01")},
                                              {"list", tool::json_array({"1", tool::json_object({{"ok", "true"}})})},
                                              {"n", "-3"}});
  EXPECT_EQ(json, R"({"text": "a \"b\" \\ c\n\u0001", "list": [1, {"ok": true}], "n": -3})");
}

}  // namespace
}  // namespace tarvex::testing
