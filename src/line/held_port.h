// Held ports: a port the host opens once with com_init, passes to the
// handle-based exchanges, and gives back with com_exit.
#pragma once

#include <cstdint>

#include "line/platform.h"
#include "line/result.h"

namespace tarvex::line {

// Opens the port with the standard timeouts and leaves it in MARK parity, one
// stop bit, the caller's baud, ready for an address phase. A port that cannot
// be opened, or does not take that setting (it is then closed again), yields
// kInvalidHandle; the system's reason is the platform's error.
Handle com_init(Platform& os, const char* port_name, std::uint32_t baud);

// Discards unread input and closes the port; 0 in every case. A handle the
// platform does not know (never opened, already closed) touches nothing.
Result com_exit(Platform& os, Handle port);

}  // namespace tarvex::line
