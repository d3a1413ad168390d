// What the network tier's cases share: a scripted terminal behind ser2net,
// and the count of the process's open descriptors.
#pragma once

#include <dirent.h>

#include <cstddef>
#include <string>

#include "pty_terminal.h"
#include "ser2net_server.h"

namespace tarvex::testing {

// A terminal on a pseudo-terminal, served by ser2net: the library reaches it
// as rfc2217://127.0.0.1:PORT and the terminal hears every byte with the
// line setting ser2net gave the device.
struct ServedTerminal {
  PtyTerminal terminal;
  Ser2net server{terminal.port()};

  const char* port() const { return server.port_name().c_str(); }
};

// The descriptors this process has open now.
inline std::size_t open_descriptors() {
  std::size_t count = 0;
  if (DIR* fds = opendir("/proc/self/fd")) {
    while (readdir(fds) != nullptr) ++count;
    closedir(fds);
  }
  return count;
}

}  // namespace tarvex::testing
