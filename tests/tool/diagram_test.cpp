// The timing diagram: well-formed SVG whose boxes are the bytes of the
// trace, in time order, with their parity bits; long runs grouped.
#include <gtest/gtest.h>

#include <filesystem>

#include "file_text.h"
#include "sample_log.h"
#include "svg_reader.h"
#include "tool_run.h"
#include "tools/diagram_layout.h"
#include "tools/text_input.h"
#include "tools/timing_diagram.h"

namespace tarvex::testing {
namespace {

std::vector<std::size_t> groups_of(const std::vector<SvgElement>& svg, const std::string& cls) {
  std::vector<std::size_t> found;
  for (std::size_t i = 0; i < svg.size(); ++i) {
    if (svg[i].name == "g" && svg[i]["class"].rfind(cls, 0) == 0) found.push_back(i);
  }
  return found;
}

// "05/1 C2/0 ..." of the byte boxes on one lane, and the box edges in order.
std::string lane_bytes(const std::vector<SvgElement>& svg, const std::string& lane, std::vector<double>& xs) {
  std::string text;
  for (const std::size_t i : groups_of(svg, "byte")) {
    if (svg[i]["data-lane"] != lane) continue;
    text += (text.empty() ? "" : " ") + svg[i]["data-value"] + "/" + svg[i]["data-parity"];
    const SvgElement* rect = child(svg, i, "rect");
    if (rect != nullptr) xs.push_back(std::stod((*rect)["x"]));
  }
  return text;
}

TEST(Diagram, BoxesAreTheBytesOfTheTraceInTimeOrder) {
  const std::string path = ::testing::TempDir() + "tarvex_get.svg";
  const ToolRun run = run_tool({"get", "05C2", "8", "--diagram", path});
  ASSERT_EQ(run.status, 0) << run.err;
  const auto svg = read_svg(file_text(path));
  ASSERT_TRUE(svg.has_value()) << "not well-formed";
  ASSERT_EQ((*svg)[0].name, "svg");

  std::vector<double> host_x;
  EXPECT_EQ(lane_bytes(*svg, "host", host_x), "05/1 C2/0 C7/0 02/0 4F/0");
  std::vector<double> terminal_x;
  EXPECT_EQ(lane_bytes(*svg, "terminal", terminal_x), "20/0 26/0 12/0 08/0 17/0 00/0 05/0 01/0 7D/0");
  EXPECT_TRUE(std::is_sorted(host_x.begin(), host_x.end()));
  EXPECT_TRUE(std::is_sorted(terminal_x.begin(), terminal_x.end()));
  EXPECT_LT(host_x[2], terminal_x[0]) << "the reply comes after the frame";

  std::string spans;
  for (const std::size_t i : groups_of(*svg, "span")) spans += (*svg)[i]["data-kind"] + " ";
  EXPECT_EQ(spans, "busy busy drain busy ");
  const auto result = groups_of(*svg, "result");
  ASSERT_EQ(result.size(), 1u);
  EXPECT_EQ((*svg)[result[0]]["data-code"], "0");
  std::filesystem::remove(path);
}

// `tarvex log FILE --call N --diagram` draws a call from the library's log
// as the tool draws a call it made itself.
TEST(Diagram, ALoggedCallIsDrawnAsTheToolDrawsItsOwn) {
  const std::string log = ::testing::TempDir() + "tarvex_diagram.log";
  write_sample_log(log);
  const ToolRun listing = run_tool({"log", log});
  EXPECT_EQ(listing.status, 0) << listing.err;
  EXPECT_TRUE(listing.shows(
      "1     2024-12-08T23:20:00.000000Z  100      101     getdata      SIM1  0 (success)"))
      << listing.out;
  EXPECT_EQ(json_field(run_tool({"log", log, "--json"}).out, "calls").substr(0, 2), "[{") << "the list, not a count";
  const ToolRun shown = run_tool({"log", log, "--call", "1", "--json"});
  EXPECT_EQ(json_field(shown.out, "arguments").substr(0, 20), "\"getdata(n=2, frame=");
  EXPECT_EQ(json_field(shown.out, "result"), "0");

  const std::string own = ::testing::TempDir() + "tarvex_own.svg";
  const std::string logged = ::testing::TempDir() + "tarvex_logged.svg";
  ASSERT_EQ(run_tool({"get", "05C2", "8", "--diagram", own}).status, 0);
  const ToolRun drawn = run_tool({"log", log, "--call", "1", "--diagram", logged});
  ASSERT_EQ(drawn.status, 0) << drawn.err;
  const auto a = read_svg(file_text(own));
  const auto b = read_svg(file_text(logged));
  ASSERT_TRUE(a.has_value() && b.has_value());
  for (const char* lane : {"host", "terminal"}) {
    std::vector<double> xs;
    EXPECT_EQ(lane_bytes(*b, lane, xs), lane_bytes(*a, lane, xs)) << lane;
  }
  std::string spans_a;
  std::string spans_b;
  for (const std::size_t i : groups_of(*a, "span")) spans_a += (*a)[i]["data-kind"] + " ";
  for (const std::size_t i : groups_of(*b, "span")) spans_b += (*b)[i]["data-kind"] + " ";
  EXPECT_EQ(spans_b, spans_a);
  EXPECT_EQ((*b)[groups_of(*b, "result")[0]]["data-code"], "0");
  for (const std::string& path : {log, own, logged}) std::filesystem::remove(path);
}

TEST(Diagram, AFailedReadShowsItsLimitAndTheResult) {
  const std::string path = ::testing::TempDir() + "tarvex_short.svg";
  const ToolRun run = run_tool({"get", "05A1", "5", "--diagram", path});
  ASSERT_EQ(run.status, 3);
  const auto svg = read_svg(file_text(path));
  ASSERT_TRUE(svg.has_value());
  const auto reads = groups_of(*svg, "span");
  const auto limit = std::find_if(reads.begin(), reads.end(), [&](std::size_t i) {
    return (*svg)[i]["data-kind"] == "read";
  });
  ASSERT_NE(limit, reads.end());
  const SvgElement* title = child(*svg, *limit, "title");
  ASSERT_NE(title, nullptr);
  EXPECT_EQ((*svg)[groups_of(*svg, "result")[0]]["data-code"], "3");
  std::filesystem::remove(path);
}

TEST(Diagram, BytesReadFromTheBufferKeepTheirWidth) {
  // Phase 2 of the query reads bytes that came in during a busy wait, faster
  // than the line carries them.
  const std::string path = ::testing::TempDir() + "tarvex_online.svg";
  ASSERT_EQ(run_tool({"online", "12", "--diagram", path}).status, 0);
  const auto svg = read_svg(file_text(path));
  ASSERT_TRUE(svg.has_value());
  std::size_t boxes = 0;
  for (const std::size_t i : groups_of(*svg, "byte")) {
    const SvgElement* rect = child(*svg, i, "rect");
    ASSERT_NE(rect, nullptr);
    EXPECT_GE(std::stod((*rect)["width"]), 26.0) << (*svg)[i]["data-value"];
    ++boxes;
  }
  EXPECT_EQ(boxes, 10u + 8u + 6u);  // sent: 5 + 5; read: 8 + 6
  std::filesystem::remove(path);
}

// A character sent at `at`, at 9600 baud.
trace::Sent sent(std::uint64_t at, std::size_t value, line::Parity parity) {
  trace::Sent e;
  e.time_us = at;
  e.end_us = at + 1146;
  e.wire = {.start_us = at, .end_us = at + 1146, .value = static_cast<std::uint8_t>(value), .parity = parity};
  return e;
}

// A trace of `count` bytes sent back to back, then one more after a pause.
std::vector<trace::TraceEvent> long_run(std::size_t count) {
  std::vector<trace::TraceEvent> trace;
  std::uint64_t at = 0;
  for (std::size_t i = 0; i <= count; ++i) {
    if (i == count) at += 50000;
    trace.push_back(sent(at, i, line::Parity::Space));
    at += 1146;
  }
  return trace;
}

TEST(Diagram, LongRunsBecomeOneGroup) {
  struct Case {
    std::size_t bytes;
    std::size_t boxes;  // on the host lane, the lone byte after the pause included
  };
  for (const Case c : {Case{24, 25}, Case{25, 2}, Case{16250, 2}}) {
    SCOPED_TRACE(c.bytes);
    const tool::DiagramLayout layout = tool::layout_diagram(long_run(c.bytes));
    ASSERT_EQ(layout.boxes.size(), c.boxes);
    const auto svg = read_svg(tool::render_svg(layout, 0, "run"));
    ASSERT_TRUE(svg.has_value());
    const auto groups = groups_of(*svg, "group");
    if (c.boxes == 2) {
      ASSERT_EQ(groups.size(), 1u);
      EXPECT_EQ((*svg)[groups[0]]["data-count"], std::to_string(c.bytes));
      EXPECT_EQ((*svg)[groups[0]]["data-first"], "00");
      EXPECT_EQ(std::stoull((*svg)[groups[0]]["data-end-us"]), c.bytes * 1146);
    } else {
      EXPECT_TRUE(groups.empty());
    }
    EXPECT_LT(std::stod((*svg)[0]["width"]), 2200) << "a long run stays on one screen";
  }
}

// `count` frames of an address byte and three data bytes, 100 ms apart;
// those with `answered` get a two-byte reply.
std::vector<trace::TraceEvent> frames(std::size_t count, bool (*answered)(std::size_t)) {
  std::vector<trace::TraceEvent> trace;
  for (std::size_t i = 0; i < count; ++i) {
    std::uint64_t at = i * 100000;
    for (std::size_t k = 0; k < 4; ++k, at += 1146) {
      trace.push_back(sent(at, k == 0 ? i : 0xA0, k == 0 ? line::Parity::Mark : line::Parity::Space));
    }
    for (std::size_t k = 0; answered(i) && k < 2; ++k) {
      trace.push_back(trace::Read{{{at + 20000 + k * 1146, 0}, line::kInvalidHandle}, 0x5A});
    }
  }
  return trace;
}

TEST(Diagram, ALongScanStaysAPage) {
  struct Case {
    const char* what;
    std::vector<trace::TraceEvent> trace;
    std::vector<std::string> drawn;  // the address bytes still drawn
    std::size_t folded;              // frames folded away
    std::size_t folded_answered;
  };
  const Case cases[] = {
      // Of a run of silent frames the first is drawn; a short run stays.
      {"silent but 5 and 8", frames(10, [](std::size_t i) { return i == 5 || i == 8; }),
       {"00", "05", "06", "07", "08", "09"}, 4, 0},
      // Beyond twelve frames drawn, the middle ones are folded too.
      {"all answered", frames(100, [](std::size_t) { return true; }),
       {"00", "01", "02", "03", "04", "05", "5E", "5F", "60", "61", "62", "63"}, 88, 88},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const tool::DiagramLayout layout = tool::layout_diagram(c.trace);
    std::vector<std::string> drawn;
    for (const tool::DiagramBox& b : layout.boxes) {
      if (b.lane == tool::Lane::Host && b.parity_bit == 1) drawn.push_back(tool::hex_text(b.bytes));
    }
    EXPECT_EQ(drawn, c.drawn);
    std::size_t folded = 0;
    std::size_t answered = 0;
    for (const tool::DiagramFold& f : layout.folds) {
      folded += f.frames;
      answered += f.answered;
    }
    EXPECT_EQ(folded, c.folded);
    EXPECT_EQ(answered, c.folded_answered);
  }

  // The whole address range on the simulated bus: the three terminals and
  // their answers drawn, the silence between them folded.
  const std::string path = ::testing::TempDir() + "tarvex_scan.svg";
  ASSERT_EQ(run_tool({"scan", "--diagram", path}).status, 0);
  const auto svg = read_svg(file_text(path));
  ASSERT_TRUE(svg.has_value());
  EXPECT_LT(std::stod((*svg)[0]["width"]), 12000) << "was 162000 before folding";
  std::size_t frames_folded = 0;
  for (const std::size_t i : groups_of(*svg, "fold")) frames_folded += std::stoul((*svg)[i]["data-count"]);
  std::vector<double> xs;
  const std::string host = lane_bytes(*svg, "host", xs);
  for (const char* answered : {"05/1 A0/0 00/0 00/0 A5/0", "12/1 A0/0", "31/1 A0/0"}) {
    EXPECT_NE(host.find(answered), std::string::npos) << answered << " in " << host;
  }
  // 255 queries, three of them with a second frame to 00, all drawn or folded.
  std::size_t address_bytes = 0;
  for (const std::size_t i : groups_of(*svg, "byte")) address_bytes += (*svg)[i]["data-parity"] == "1";
  EXPECT_EQ(address_bytes + frames_folded, 255u + 3u);
  std::filesystem::remove(path);
}

TEST(TimeScale, DrawsCharactersToScaleAndCompressesLongIntervals) {
  const tool::TimeScale scale({0, 1146, 2292, 11292, 4561292}, 1146, 100);
  EXPECT_DOUBLE_EQ(scale.x(0), 100);
  EXPECT_DOUBLE_EQ(scale.x(1146), 127);
  EXPECT_DOUBLE_EQ(scale.x(2292), 154);
  const double busy = scale.x(11292) - scale.x(2292);
  const double limit = scale.x(4561292) - scale.x(11292);
  EXPECT_GT(busy, 54);
  EXPECT_LT(limit, 8 * busy) << "a 4.5 s limit must not dwarf a 9 ms wait";
  EXPECT_LT(scale.x(5000), scale.x(6000)) << "in between, x grows with time";
}

}  // namespace
}  // namespace tarvex::testing
