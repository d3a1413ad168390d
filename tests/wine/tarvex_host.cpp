// A Windows host for the wine tier: it loads the DLL the way an application
// does (LoadLibrary, GetProcAddress), runs cases against a COM port and
// prints what came back, one "key=value" line each, for the Linux driver.
//
//   tarvex_host.exe <dll> <port> <case> <arguments...> [+ <case> <arguments...>]...
//
// Cases joined by "+" run in turn in one process (a run costs about a second
// under wine); each starts its output with case=<name>, and com_init holds a
// port for the held-port cases after it until com_exit. Byte arguments are
// hex without spaces ("05C20102", "-" for none); printed bytes are hex with
// spaces. Every exchange case prints result=<code> and "ms", the call's
// duration on GetTickCount, the clock the library's waits run on.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "exports/entry_point_table.h"
#include "tarvex.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes parse_hex(const char* text) {
  Bytes bytes;
  for (std::size_t i = 0; text[i] != '\0' && text[i + 1] != '\0'; i += 2) {
    const char pair[3] = {text[i], text[i + 1], '\0'};
    bytes.push_back(static_cast<std::uint8_t>(std::strtoul(pair, nullptr, 16)));
  }
  return bytes;
}

std::int32_t parse_int(const char* text) {
  return static_cast<std::int32_t>(std::strtol(text, nullptr, 10));
}

void print_bytes(const char* key, const Bytes& bytes) {
  std::printf("%s=", key);
  for (std::size_t i = 0; i < bytes.size(); ++i) std::printf(i == 0 ? "%02X" : " %02X", bytes[i]);
  std::printf("\n");
}

// The DLL's entry points: every row of the table, looked up by name when the
// DLL is loaded and typed from the public header. A case that calls one the
// DLL does not export says so and ends the run.
struct Library {
  explicit Library(HMODULE loaded) : module(loaded) {}
  template <class Function>
  Function* find(const char* name) const {
    return reinterpret_cast<Function*>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  }
  template <class Function>
  Function* require(Function* function, const char* name) const {
    if (function == nullptr) {
      std::printf("error=entry point %s not found\n", name);
      std::exit(3);
    }
    return function;
  }

  HMODULE module;
#define TARVEX_FOUND(name, ...) decltype(::name)* name = find<decltype(::name)>(#name);
  TARVEX_ENTRY_POINTS(TARVEX_FOUND)
#undef TARVEX_FOUND
};
#define TARVEX_ENTRY(library, name) (library).require((library).name, #name)

// What the cases of one run share: the port com_init gave, for the cases
// on a held port that follow it.
struct Session {
  tarvex_port_t held = TARVEX_INVALID_PORT;
};

using CaseFunction = int (*)(const Library&, const char* port, Session&, char** args, int count);

// A frame or block buffer with the spare byte the checksum goes into. "-"
// stands for no bytes.
Bytes checksum_buffer(const char* hex) {
  Bytes bytes = parse_hex(hex);
  bytes.push_back(0);
  return bytes;
}

std::int32_t count_of(const Bytes& buffer_with_spare) {
  return static_cast<std::int32_t>(buffer_with_spare.size() - 1);
}

std::uint32_t parse_unsigned(const char* text) {
  return static_cast<std::uint32_t>(std::strtoul(text, nullptr, 10));
}

// Times a call on GetTickCount, the clock the library's waits run on, and
// prints its result and duration.
template <class Call>
void timed(Call call) {
  const DWORD start = GetTickCount();
  const std::int32_t result = call();
  const DWORD took = GetTickCount() - start;
  std::printf("result=%d\nms=%lu\n", static_cast<int>(result), static_cast<unsigned long>(took));
}

// getdata <frame> <reply length>
int run_getdata(const Library& lib, const char* port, Session&, char** args, int count) {
  if (count != 2) return 2;
  auto* call = TARVEX_ENTRY(lib, getdata);
  Bytes frame = checksum_buffer(args[0]);
  const std::int32_t reply_length = parse_int(args[1]);
  Bytes reply(static_cast<std::size_t>(reply_length) + 1, 0);
  timed([&] { return call(count_of(frame), frame.data(), reply_length, reply.data(), port); });
  print_bytes("frame", frame);
  print_bytes("reply", reply);
  return 0;
}

// held_getdata <baud> <frame> <reply length> <limit>: com_init,
// HANDLE_GetData, com_exit.
int run_held_getdata(const Library& lib, const char* port, Session&, char** args, int count) {
  if (count != 4) return 2;
  auto* init = TARVEX_ENTRY(lib, com_init);
  auto* call = TARVEX_ENTRY(lib, HANDLE_GetData);
  auto* exit_port = TARVEX_ENTRY(lib, com_exit);
  const std::uint32_t baud = parse_unsigned(args[0]);
  Bytes frame = checksum_buffer(args[1]);
  const std::int32_t reply_length = parse_int(args[2]);
  const std::uint32_t limit = parse_unsigned(args[3]);
  Bytes reply(static_cast<std::size_t>(reply_length) + 1, 0);

  const tarvex_port_t held = init(port, baud);
  std::printf("held=%s\n", held == TARVEX_INVALID_PORT ? "invalid" : "valid");
  timed([&] {
    return call(held, count_of(frame), frame.data(), reply_length, reply.data(), limit);
  });
  print_bytes("frame", frame);
  print_bytes("reply", reply);
  std::printf("exit=%d\n", static_cast<int>(exit_port(held)));
  return 0;
}

// com_init <baud>: holds the port for the cases after it.
int run_com_init(const Library& lib, const char* port, Session& session, char** args,
                 int count) {
  if (count != 1) return 2;
  session.held = TARVEX_ENTRY(lib, com_init)(port, parse_unsigned(args[0]));
  std::printf("held=%s\n", session.held == TARVEX_INVALID_PORT ? "invalid" : "valid");
  return 0;
}

// open_error <port name>: com_init on another name, which is expected to
// fail: the handle and GetLastError as the call left it.
int run_open_error(const Library& lib, const char*, Session&, char** args, int count) {
  if (count != 1) return 2;
  SetLastError(0);
  const tarvex_port_t held = TARVEX_ENTRY(lib, com_init)(args[0], 9600);
  const DWORD error = GetLastError();
  std::printf("held=%s\nlast_error=%lu\n", held == TARVEX_INVALID_PORT ? "invalid" : "valid",
              static_cast<unsigned long>(error));
  if (held != TARVEX_INVALID_PORT) TARVEX_ENTRY(lib, com_exit)(held);
  return 0;
}

// com_exit: gives the held port back.
int run_com_exit(const Library& lib, const char*, Session& session, char**, int count) {
  if (count != 0) return 2;
  std::printf("result=%d\n", static_cast<int>(TARVEX_ENTRY(lib, com_exit)(session.held)));
  session.held = TARVEX_INVALID_PORT;
  return 0;
}

// senddata <frame> <block>
int run_senddata(const Library& lib, const char* port, Session&, char** args, int count) {
  if (count != 2) return 2;
  auto* call = TARVEX_ENTRY(lib, senddata);
  Bytes frame = checksum_buffer(args[0]);
  Bytes block = checksum_buffer(args[1]);
  timed([&] {
    return call(count_of(frame), frame.data(), count_of(block), block.data(), port);
  });
  print_bytes("frame", frame);
  print_bytes("block", block);
  return 0;
}

// nsenddata <frame> <block> <baud> <limit>
int run_nsenddata(const Library& lib, const char* port, Session&, char** args, int count) {
  if (count != 4) return 2;
  auto* call = TARVEX_ENTRY(lib, nSendData);
  Bytes frame = checksum_buffer(args[0]);
  Bytes block = checksum_buffer(args[1]);
  const std::uint32_t baud = parse_unsigned(args[2]);
  const std::uint32_t limit = parse_unsigned(args[3]);
  timed([&] {
    return call(count_of(frame), frame.data(), count_of(block), block.data(), port, baud, limit);
  });
  print_bytes("frame", frame);
  print_bytes("block", block);
  return 0;
}

// handle_senddata <frame> <block> <limit>, on the held port
int run_handle_senddata(const Library& lib, const char*, Session& session, char** args,
                        int count) {
  if (count != 3) return 2;
  auto* call = TARVEX_ENTRY(lib, HANDLE_SendData);
  Bytes frame = checksum_buffer(args[0]);
  Bytes block = checksum_buffer(args[1]);
  const std::uint32_t limit = parse_unsigned(args[2]);
  timed([&] {
    return call(session.held, count_of(frame), frame.data(), count_of(block), block.data(),
                limit);
  });
  print_bytes("frame", frame);
  print_bytes("block", block);
  return 0;
}

// handle_comdata <frame> <block> <reply length> <limit>, on the held port
int run_handle_comdata(const Library& lib, const char*, Session& session, char** args,
                       int count) {
  if (count != 4) return 2;
  auto* call = TARVEX_ENTRY(lib, HANDLE_ComData);
  Bytes frame = checksum_buffer(args[0]);
  Bytes block = checksum_buffer(args[1]);
  const std::int32_t reply_length = parse_int(args[2]);
  const std::uint32_t limit = parse_unsigned(args[3]);
  Bytes reply(static_cast<std::size_t>(reply_length) + 1, 0);
  timed([&] {
    return call(session.held, count_of(frame), frame.data(), count_of(block), block.data(),
                reply_length, reply.data(), limit);
  });
  print_bytes("frame", frame);
  print_bytes("block", block);
  print_bytes("reply", reply);
  return 0;
}

// sam_getdata <raw frame> <reply length> <limit>, on the held port
int run_sam_getdata(const Library& lib, const char*, Session& session, char** args, int count) {
  if (count != 3) return 2;
  auto* call = TARVEX_ENTRY(lib, sam_GetData);
  Bytes frame = parse_hex(args[0]);
  const std::int32_t reply_length = parse_int(args[1]);
  const std::uint32_t limit = parse_unsigned(args[2]);
  Bytes reply(static_cast<std::size_t>(reply_length), 0);
  timed([&] {
    return call(session.held, static_cast<std::int32_t>(frame.size()), frame.data(),
                reply_length, reply.data(), limit);
  });
  print_bytes("frame", frame);
  print_bytes("reply", reply);
  return 0;
}

// A record buffer: 7 bytes and one that must stay as it is.
Bytes untouched_record() { return Bytes(8, 0xEE); }

// onnet <address>
int run_onnet(const Library& lib, const char* port, Session&, char** args, int count) {
  if (count != 1) return 2;
  auto* call = TARVEX_ENTRY(lib, onNet);
  Bytes record = untouched_record();
  timed([&] { return call(parse_int(args[0]), record.data(), port); });
  print_bytes("record", record);
  return 0;
}

// handle_onnet <address>, on the held port
int run_handle_onnet(const Library& lib, const char*, Session& session, char** args, int count) {
  if (count != 1) return 2;
  auto* call = TARVEX_ENTRY(lib, HANDLE_OnNet);
  Bytes record = untouched_record();
  timed([&] { return call(session.held, parse_int(args[0]), record.data()); });
  print_bytes("record", record);
  return 0;
}

// getdata_hex <command text> <reply length>: prints the reply text.
int run_getdata_hex(const Library& lib, const char* port, Session&, char** args, int count) {
  if (count != 2) return 2;
  auto* call = TARVEX_ENTRY(lib, getdata_hex);
  const std::string command = args[0];
  const std::int32_t reply_length = parse_int(args[1]);
  // The text has no terminator: the two '#' after it must stay.
  std::string text(2 * (static_cast<std::size_t>(reply_length) + 1) + 2, '#');
  timed([&] {
    return call(static_cast<std::int32_t>(command.size() / 2), command.data(), reply_length,
                text.data(), port);
  });
  std::printf("text=%s\n", text.c_str());
  return 0;
}

// senddata_hex <command text> <block text>
int run_senddata_hex(const Library& lib, const char* port, Session&, char** args, int count) {
  if (count != 2) return 2;
  auto* call = TARVEX_ENTRY(lib, senddata_hex);
  const std::string command = args[0];
  const std::string block = args[1];
  timed([&] {
    return call(static_cast<std::int32_t>(command.size() / 2), command.data(),
                static_cast<std::int32_t>(block.size() / 2), block.data(), port);
  });
  return 0;
}

// sendblack_series <address> <first> <step> <last>: the cards first,
// first + step, ... up to last, built here (a list of thousands would not fit
// on a command line).
int run_sendblack_series(const Library& lib, const char* port, Session&, char** args,
                         int count) {
  if (count != 4) return 2;
  auto* call = TARVEX_ENTRY(lib, sendBlack);
  const std::uint32_t first = parse_unsigned(args[1]);
  const std::uint32_t step = parse_unsigned(args[2]);
  const std::uint32_t last = parse_unsigned(args[3]);
  if (step == 0) return 2;
  Bytes entries;
  for (std::uint32_t card = first; card <= last; card += step) {
    entries.push_back(static_cast<std::uint8_t>((card >> 16) & 0x01));
    entries.push_back(static_cast<std::uint8_t>(card >> 8));
    entries.push_back(static_cast<std::uint8_t>(card));
  }
  const auto cards = static_cast<std::int32_t>(entries.size() / 3);
  std::printf("cards=%d\n", static_cast<int>(cards));
  timed([&] { return call(parse_int(args[0]), cards, entries.data(), port); });
  return 0;
}

// keylock <plain code>: prints the output buffer and one byte beyond it.
int run_keylock(const Library& lib, const char*, Session&, char** args, int count) {
  if (count != 1) return 2;
  const Bytes plain = parse_hex(args[0]);
  if (plain.size() != 3) return 2;
  Bytes key(4, 0xEE);
  const std::int32_t result = TARVEX_ENTRY(lib, keylock)(0x7FFFFFFF, plain.data(), key.data());
  std::printf("result=%d\n", static_cast<int>(result));
  print_bytes("key", key);
  return 0;
}

// abcd <8 characters> <mode>: prints the output and the byte beyond it.
int run_abcd(const Library& lib, const char*, Session&, char** args, int count) {
  if (count != 2 || std::strlen(args[0]) != 8) return 2;
  std::string code(9, '#');
  const std::int32_t result = TARVEX_ENTRY(lib, abcd)(
      reinterpret_cast<const std::uint8_t*>(args[0]), reinterpret_cast<std::uint8_t*>(code.data()),
      parse_int(args[1]));
  std::printf("result=%d\ncode=%s\n", static_cast<int>(result), code.c_str());
  return 0;
}

struct Case {
  const char* name;
  CaseFunction run;
};
constexpr Case kCases[] = {
    {"getdata", run_getdata},
    {"held_getdata", run_held_getdata},
    {"com_init", run_com_init},
    {"com_exit", run_com_exit},
    {"open_error", run_open_error},
    {"senddata", run_senddata},
    {"nsenddata", run_nsenddata},
    {"handle_senddata", run_handle_senddata},
    {"handle_comdata", run_handle_comdata},
    {"sam_getdata", run_sam_getdata},
    {"onnet", run_onnet},
    {"handle_onnet", run_handle_onnet},
    {"getdata_hex", run_getdata_hex},
    {"senddata_hex", run_senddata_hex},
    {"sendblack_series", run_sendblack_series},
    {"keylock", run_keylock},
    {"abcd", run_abcd},
};

// Runs one case; 2 for unknown cases and wrong arguments, which it reports.
int run_case(const Library& lib, const char* port, Session& session, char** args, int count) {
  for (const Case& c : kCases) {
    if (std::strcmp(c.name, args[0]) == 0) {
      std::printf("case=%s\n", c.name);
      const int status = c.run(lib, port, session, args + 1, count - 1);
      if (status == 2) std::printf("error=wrong arguments for %s\n", c.name);
      return status;
    }
  }
  std::printf("error=no case %s\n", args[0]);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::printf("usage: tarvex_host <dll> <port> <case> <arguments...> [+ <case> <arguments...>]\n");
    return 2;
  }
  const HMODULE module = LoadLibraryA(argv[1]);
  if (module == nullptr) {
    std::printf("error=LoadLibrary %s failed (%lu)\n", argv[1],
                static_cast<unsigned long>(GetLastError()));
    return 3;
  }
  const Library lib(module);
  // Cases separated by "+" run in turn, in one process, sharing a session.
  Session session;
  int first = 3;
  while (first < argc) {
    int end = first;
    while (end < argc && std::strcmp(argv[end], "+") != 0) ++end;
    if (end == first) {
      std::printf("error=empty case\n");
      return 2;
    }
    const int status = run_case(lib, argv[2], session, argv + first, end - first);
    std::fflush(stdout);
    if (status != 0) return status;
    first = end + 1;
  }
  return 0;
}
