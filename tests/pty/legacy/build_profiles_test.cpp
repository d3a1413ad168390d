// getdata and senddata of both Linux shared objects, loaded side by side,
// against the same scripted terminal: the current build switches to the data
// phase in place, between busy waits; the legacy build re-opens the port
// there, with no wait, acknowledges every good reply at once, waits 30 ms
// before a block, awaits and compares both acknowledgement bytes for every
// command code, and has its own limits.
//
// What a pty shows of the re-open: the release discards unread input, so
// bytes waiting in the port before the call are gone by the time the reply
// is read. The absence of a wait cannot be shown in real time on a shared
// machine (only lower bounds are strict); the measured gaps are printed.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <iostream>
#include <string>

#include "pty_checks.h"
#include "pty_terminal.h"
#include "tarvex.h"

namespace tarvex::testing {
namespace {

using namespace std::chrono_literals;

// One build's getdata and senddata, looked up in its own shared object.
class Deliverable {
 public:
  Deliverable(const char* name, const char* path)
      : name_(name), handle_(dlopen(path, RTLD_NOW | RTLD_LOCAL)) {
    if (handle_ == nullptr) {
      ADD_FAILURE() << dlerror();
      return;
    }
    getdata_ = reinterpret_cast<decltype(&::getdata)>(dlsym(handle_, "getdata"));
    senddata_ = reinterpret_cast<decltype(&::senddata)>(dlsym(handle_, "senddata"));
  }
  ~Deliverable() {
    if (handle_ != nullptr) dlclose(handle_);
  }
  Deliverable(const Deliverable&) = delete;
  Deliverable& operator=(const Deliverable&) = delete;

  const std::string& name() const { return name_; }
  bool loaded() const { return getdata_ != nullptr && senddata_ != nullptr; }
  std::int32_t getdata(std::int32_t n, std::uint8_t* frame, std::int32_t reply_length,
                       std::uint8_t* reply, const char* port) const {
    return getdata_(n, frame, reply_length, reply, port);
  }
  std::int32_t senddata(std::int32_t n, std::uint8_t* frame, std::int32_t m, std::uint8_t* block,
                        const char* port) const {
    return senddata_(n, frame, m, block, port);
  }

 private:
  std::string name_;
  void* handle_;
  decltype(&::getdata) getdata_ = nullptr;
  decltype(&::senddata) senddata_ = nullptr;
};

enum class Build { Current, Legacy };
const char* name_of(Build build) { return build == Build::Current ? "current" : "legacy"; }

const Deliverable& deliverable(Build build) {
  static const Deliverable current("current", TARVEX_CURRENT_SO);
  static const Deliverable legacy("legacy", TARVEX_LEGACY_SO);
  return build == Build::Current ? current : legacy;
}

// What one build makes of a case.
struct Outcome {
  std::int32_t result;
  Bytes reply;  // getdata: the caller's reply buffer afterwards
  Bytes after;  // what the library sends after the frame (and block)
};

struct ProfileCase {
  const char* name;
  Bytes frame;
  Bytes block;               // senddata: the block; getdata: none
  std::int32_t reply_length;  // getdata
  Bytes waiting;             // in the port before the call
  PtyTerminal::Step answer;  // after the frame (and block); after_bytes is filled in
  Outcome current;
  Outcome legacy;
  bool is_getdata() const { return block.empty(); }
};

struct Param {
  ProfileCase c;
  Build build;
};

void PrintTo(const Param& p, std::ostream* os) { *os << p.c.name << " (" << name_of(p.build) << ")"; }

class BuildProfiles : public ::testing::TestWithParam<Param> {};

TEST_P(BuildProfiles, SameTerminalEachBuildsProfile) {
  const ProfileCase& c = GetParam().c;
  const Build build = GetParam().build;
  const Deliverable& lib = deliverable(build);
  ASSERT_TRUE(lib.loaded());
  const Outcome& expected = build == Build::Current ? c.current : c.legacy;

  PtyTerminal terminal;
  if (!c.waiting.empty()) {
    terminal.then(0, c.waiting);
    ASSERT_TRUE(terminal.wait_unread(c.waiting.size(), kPatience));
  }
  const Bytes wire_frame = with_checksum(c.frame);
  const Bytes sent = c.is_getdata() ? wire_frame : concat(wire_frame, with_checksum(c.block));
  PtyTerminal::Step answer = c.answer;
  answer.after_bytes = sent.size();
  terminal.then(answer);
  Bytes frame = checksum_buffer(c.frame);
  Bytes block = checksum_buffer(c.block);
  Bytes reply(static_cast<std::size_t>(c.reply_length) + 1, 0);

  const Clock::time_point start = Clock::now();
  const std::int32_t result =
      c.is_getdata()
          ? lib.getdata(length(c.frame), frame.data(), c.reply_length, reply.data(),
                        terminal.port().c_str())
          : lib.senddata(length(c.frame), frame.data(), length(c.block), block.data(),
                         terminal.port().c_str());
  const Clock::time_point end = Clock::now();

  EXPECT_EQ(result, expected.result);
  if (c.is_getdata()) {
    EXPECT_EQ(hex(reply), hex(expected.reply));
  }
  const Bytes wire = concat(sent, expected.after);
  EXPECT_EQ(heard_once(terminal, wire.size()), hex(wire));
  const std::vector<HeardByte> heard = terminal.heard();
  ASSERT_EQ(heard.size(), wire.size());
  // Both builds: getdata's data phase has one stop bit, senddata's two.
  expect_address_then_data(heard, 0, wire.size() - 1,
                           {LineParity::Space, 9600, !c.is_getdata()});

  // An answer that came too late may still be on its way after the call.
  ASSERT_TRUE(terminal.wait_answered(kPatience));
  const std::vector<Answer> answers = terminal.answers();
  ASSERT_FALSE(answers.empty());
  const Answer& answered = answers.back();
  std::cout << "note: " << name_of(build) << ", call start to the rest of the frame "
            << since(start, heard[1].at).count() << " ms";
  if (!expected.after.empty()) {
    std::cout << ", reply to what followed it " << since(answered.last_at, heard[sent.size()].at).count()
              << " ms";
  }
  std::cout << '\n';

  // Lower bounds, strict on both builds.
  if (build == Build::Current) {
    EXPECT_TRUE(more_than(start, heard[1].at, c.is_getdata() ? 17ms : 18ms))
        << "busy waits either side of the switch in place";
    if (c.is_getdata() && !expected.after.empty()) {
      EXPECT_TRUE(more_than(answered.last_at, heard[sent.size()].at, 8ms))
          << "9 ms before the acknowledgement";
    }
  }
  if (!c.is_getdata()) {
    EXPECT_TRUE(more_than(start, heard[wire_frame.size()].at,
                          build == Build::Current ? 28ms : 29ms))
        << (build == Build::Current ? "9, 10 and 10 ms" : "30 ms") << " before the block";
  }
  // A limit that ran out ran out after no less than itself, counted from the
  // first byte of the answer (which came at once) to the end of the call.
  if (expected.result == TARVEX_REPLY_INCOMPLETE) {
    const milliseconds limit = c.is_getdata() ? 1500ms : 2000ms;
    EXPECT_TRUE(more_than(answered.first_at, end, limit)) << "the per-byte limit";
  }
  EXPECT_LT(since(start, end), 3 * kGenerous);
}

// A command code both builds give a long limit (1000 and 1500 ms): a loaded
// machine cannot make the terminal late.
const Bytes kFrame{0x05, 0x30, 0x01};
const Bytes kGoodReply = with_checksum({0x31, 0x32, 0x33});
const Bytes kAck{0x02, 0x4F};

const ProfileCase kCases[] = {
    // The legacy build acknowledges every good reply; the current one only
    // for 0xC2.
    {"GetdataGoodReply", kFrame, {}, 3, {}, {0, kGoodReply, 2ms, 0ms},
     {TARVEX_OK, kGoodReply, {}}, {TARVEX_OK, kGoodReply, kAck}},
    // Stale bytes in the port: the current build reads them as the reply;
    // the legacy build's re-open discards them and reads the terminal's.
    {"GetdataInputWaitingBeforeTheCall", kFrame, {}, 3, {0xAA, 0xBB, 0xCC, 0xDD},
     {0, kGoodReply, 2ms, 0ms},
     {TARVEX_REPLY_WRONG, {0xAA, 0xBB, 0xCC, 0xDD}, {}}, {TARVEX_OK, kGoodReply, kAck}},
    // 2 s between two reply bytes of a 0xC2 reply: within the current
    // build's 2500 ms, past the legacy build's 1500 ms.
    {"GetdataC2ReplyByteAfter2s", {0x05, 0xC2}, {}, 1, {}, {0, {0x41, 0x41}, 2ms, 2000ms},
     {TARVEX_OK, {0x41, 0x41}, kAck}, {TARVEX_REPLY_INCOMPLETE, {0x41, 0x00}, {}}},
    {"SenddataAcknowledged", kFrame, {0x01, 0x02, 0x03}, 0, {}, {0, kAck, 2ms, 0ms},
     {TARVEX_OK, {}, {}}, {TARVEX_OK, {}, {}}},
    // 0xB5: the current build awaits nothing; the legacy build reads the
    // answer and finds it wrong.
    {"SenddataB5", {0x05, 0xB5}, {0x0A, 0x0B}, 0, {}, {0, {0x03, 0x4F}, 2ms, 0ms},
     {TARVEX_OK, {}, {}}, {TARVEX_REPLY_WRONG, {}, {}}},
    // The second acknowledgement byte: not compared by the current build.
    {"SenddataSecondAcknowledgementByte", kFrame, {0x01}, 0, {}, {0, {0x02, 0x00}, 2ms, 0ms},
     {TARVEX_OK, {}, {}}, {TARVEX_REPLY_WRONG, {}, {}}},
    // 2.7 s between the acknowledgement bytes: past the current build's
    // 2000 ms, within the legacy build's 4550 ms.
    {"SenddataAcknowledgementByteAfter2_7s", kFrame, {0x01}, 0, {}, {0, kAck, 2ms, 2700ms},
     {TARVEX_REPLY_INCOMPLETE, {}, {}}, {TARVEX_OK, {}, {}}},
};

std::vector<Param> params() {
  std::vector<Param> all;
  for (const ProfileCase& c : kCases) {
    for (const Build build : {Build::Current, Build::Legacy}) all.push_back({c, build});
  }
  return all;
}

INSTANTIATE_TEST_SUITE_P(BothBuilds, BuildProfiles, ::testing::ValuesIn(params()),
                         [](const auto& test) {
                           return std::string(test.param.c.name) + "_" + name_of(test.param.build);
                         });

}  // namespace
}  // namespace tarvex::testing
