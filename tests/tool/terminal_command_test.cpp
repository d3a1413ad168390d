// `tarvex terminal`: the demo terminals on a pseudo-terminal, answered by the
// Linux shared object through its exported C functions, as any host would.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <sstream>
#include <thread>

#include "tarvex.h"
#include "tool_run.h"
#include "sim/pty_demo.h"

namespace tarvex::testing {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

// The demo terminals served on their own thread for the length of a test.
class ServedDemo {
 public:
  ServedDemo() : server_([this] {
      while (!stop_) demo_.serve_once();
    }) {}
  ~ServedDemo() { stop(); }
  void stop() {
    stop_ = true;
    if (server_.joinable()) server_.join();
  }
  const char* port() const { return demo_.port().c_str(); }
  const sim::PtyDemo& demo() const { return demo_; }
  std::string log() const { return log_.str(); }  // once stopped

 private:
  std::ostringstream log_;
  sim::PtyDemo demo_{log_};
  std::atomic<bool> stop_{false};
  std::thread server_;
};

TEST(TerminalCommand, TheSharedObjectTalksToTheDemoTerminals) {
  ServedDemo served;

  std::uint8_t status[3] = {0x12, 0xA1, 0};
  std::uint8_t status_reply[5] = {};
  EXPECT_EQ(::getdata(2, status, 4, status_reply, served.port()), TARVEX_OK);
  EXPECT_EQ(Bytes(status_reply, status_reply + 5), (Bytes{0x12, 0x01, 0x01, 0x00, 0x14}));

  std::uint8_t write[5] = {0x05, 0xB1, 0x10, 0x02, 0};
  std::uint8_t block[3] = {0xAA, 0xBB, 0};
  EXPECT_EQ(::senddata(4, write, 2, block, served.port()), TARVEX_OK);
  std::uint8_t read[5] = {0x05, 0xC1, 0x10, 0x02, 0};
  std::uint8_t read_reply[3] = {};
  EXPECT_EQ(::getdata(4, read, 2, read_reply, served.port()), TARVEX_OK);
  EXPECT_EQ(Bytes(read_reply, read_reply + 3), (Bytes{0xAA, 0xBB, 0x65})) << "the block written is read back";

  std::uint8_t record[7] = {};
  EXPECT_EQ(::onNet(0x31, record, served.port()), TARVEX_OK);
  EXPECT_EQ(Bytes(record, record + 7), (Bytes{0x31, 0x02, 0x05, 0x10, 0x00, 0x00, 0x31}));

  // The blacklist download switches to SPACE right after its address byte,
  // by re-opening the port.
  std::this_thread::sleep_for(20ms);
  const std::uint8_t cards[] = {0, 0, 9};
  EXPECT_EQ(::sendBlack(0x05, 1, cards, served.port()), TARVEX_OK);

  served.stop();
  EXPECT_TRUE(served.demo().terminal(0x05)->card_barred(9));
  // Every frame logged with the parity of each byte. An address byte shows
  // as M, or as m when the host had switched to SPACE before it was read (a
  // loaded machine can delay the read past a 9 ms busy wait).
  const std::string log = served.log();
  for (const char* line : {"  12   ?12 SA1 SB3  -> 12 01 01 00 14\n", "  05   ?05 SB1 S10 S02 SC8 SAA SBB S65  -> 02 4F\n",
                           "  05   ?05 SC1 S10 S02 SD8  -> AA BB 65\n", "  31   ?31 SA0 S00 S00 SD1  -> ",
                           "  all  ?00 SB4 ", "  -> 00 31 02 05 00 38\n",
                           "  05   ?05 SA5 S00 S00 SAA S00 S00 S01 S00 S00 S01 S01 S03  -> 02 4F\n"}) {
    const std::string fragment(line);
    const std::size_t at = fragment.find('?');
    bool found = false;
    for (const char letter : {'M', 'm'}) {
      std::string wanted = fragment;
      if (at != std::string::npos) wanted[at] = letter;
      found = found || log.find(wanted) != std::string::npos;
    }
    EXPECT_TRUE(found) << fragment << "\n" << log;
  }
}

// The tool on a real port: the OS backend inside the tracing wrapper.
TEST(TerminalCommand, TheToolTracesARealPort) {
  ServedDemo served;
  const ToolRun run = run_tool({"--port", served.port(), "--trace", "--json", "get", "05C2", "8"});
  served.stop();
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(json_field(run.out, "reply"), "\"20 26 12 08 17 00 05 01 7D\"");
  for (const char* line : {"  open   /dev/pts/", "  line   M 1 9600", "  tx     M 1 9600  05  (1.146 ms on the line)",
                           "  line   S 1 9600", "  tx     S 1 9600  C2 C7  (2.292 ms on the line)",
                           "  rx     20 26 12 08 17 00 05 01 7D", "  tx     S 1 9600  02 4F", "  close  #",
                           "  result 0 (success)"}) {
    EXPECT_TRUE(run.shows(line)) << line << "\n" << run.out;
  }
}

TEST(TerminalCommand, PrintsItsPortFirstAndStopsWhenTold) {
  const ToolRun run = run_tool({"terminal", "--seconds", "1"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out.rfind("/dev/pts/", 0), 0u) << run.out;
  EXPECT_TRUE(run.shows("demo terminals at 05, 12 and 31 on /dev/pts/")) << run.out;
  EXPECT_EQ(run_tool({"terminal", "--port", "/dev/ttyS0"}).status, 64);
}

}  // namespace
}  // namespace tarvex::testing
