// A Windows host for the wine tier: it loads the DLL the way an application
// does (LoadLibrary, GetProcAddress), runs one case against a COM port and
// prints what came back, one "key=value" line each, for the Linux driver.
//
//   tarvex_host.exe <dll> <port> <case> <arguments...>
//
// Byte arguments are hex without spaces ("05C20102"); printed bytes are hex
// with spaces. Every case prints result=<code>; "ms" is the call's duration
// on GetTickCount, the clock the library's waits run on.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

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

// The DLL's entry points, typed from the public header.
struct Library {
  HMODULE module = nullptr;

  template <class Function>
  Function* find(const char* name) const {
    FARPROC proc = GetProcAddress(module, name);
    if (proc == nullptr) {
      std::printf("error=entry point %s not found\n", name);
      std::exit(3);
    }
    return reinterpret_cast<Function*>(reinterpret_cast<void*>(proc));
  }
};
#define TARVEX_ENTRY(library, name) (library).find<decltype(::name)>(#name)

// A frame buffer with the spare byte the checksum goes into.
Bytes frame_buffer(const char* hex) {
  Bytes frame = parse_hex(hex);
  frame.push_back(0);
  return frame;
}

// getdata <frame> <reply length>
int run_getdata(const Library& lib, const char* port, char** args, int count) {
  if (count != 2) return 2;
  auto* call = TARVEX_ENTRY(lib, getdata);
  Bytes frame = frame_buffer(args[0]);
  const std::int32_t reply_length = parse_int(args[1]);
  Bytes reply(static_cast<std::size_t>(reply_length) + 1, 0);
  const DWORD start = GetTickCount();
  const std::int32_t result = call(static_cast<std::int32_t>(frame.size() - 1), frame.data(),
                                   reply_length, reply.data(), port);
  const DWORD took = GetTickCount() - start;
  std::printf("result=%d\nms=%lu\n", static_cast<int>(result), static_cast<unsigned long>(took));
  print_bytes("frame", frame);
  print_bytes("reply", reply);
  return 0;
}

// held_getdata <baud> <frame> <reply length> <limit>: com_init,
// HANDLE_GetData, com_exit.
int run_held_getdata(const Library& lib, const char* port, char** args, int count) {
  if (count != 4) return 2;
  auto* init = TARVEX_ENTRY(lib, com_init);
  auto* call = TARVEX_ENTRY(lib, HANDLE_GetData);
  auto* exit_port = TARVEX_ENTRY(lib, com_exit);
  const auto baud = static_cast<std::uint32_t>(std::strtoul(args[0], nullptr, 10));
  Bytes frame = frame_buffer(args[1]);
  const std::int32_t reply_length = parse_int(args[2]);
  const auto limit = static_cast<std::uint32_t>(std::strtoul(args[3], nullptr, 10));
  Bytes reply(static_cast<std::size_t>(reply_length) + 1, 0);

  const tarvex_port_t held = init(port, baud);
  std::printf("held=%s\n", held == TARVEX_INVALID_PORT ? "invalid" : "valid");
  const DWORD start = GetTickCount();
  const std::int32_t result = call(held, static_cast<std::int32_t>(frame.size() - 1), frame.data(),
                                   reply_length, reply.data(), limit);
  const DWORD took = GetTickCount() - start;
  std::printf("result=%d\nms=%lu\n", static_cast<int>(result), static_cast<unsigned long>(took));
  print_bytes("frame", frame);
  print_bytes("reply", reply);
  std::printf("exit=%d\n", static_cast<int>(exit_port(held)));
  return 0;
}

struct Case {
  const char* name;
  int (*run)(const Library&, const char*, char**, int);
};
constexpr Case kCases[] = {
    {"getdata", run_getdata},
    {"held_getdata", run_held_getdata},
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::printf("usage: tarvex_host <dll> <port> <case> <arguments...>\n");
    return 2;
  }
  Library lib;
  lib.module = LoadLibraryA(argv[1]);
  if (lib.module == nullptr) {
    std::printf("error=LoadLibrary %s failed (%lu)\n", argv[1],
                static_cast<unsigned long>(GetLastError()));
    return 3;
  }
  for (const Case& c : kCases) {
    if (std::strcmp(c.name, argv[3]) == 0) {
      const int status = c.run(lib, argv[2], argv + 4, argc - 4);
      if (status == 2) std::printf("error=wrong arguments for %s\n", c.name);
      std::fflush(stdout);
      return status;
    }
  }
  std::printf("error=no case %s\n", argv[3]);
  return 2;
}
