// Going from the address phase to the data phase by re-opening the port, as
// the hex-text and blacklist exchanges do: the address byte goes out under
// MARK on the first handle, the rest of the frame under SPACE on a second one.
// Releasing and opening again is all that separates the two phases; there is
// no busy wait on either side.
#pragma once

#include <cstdint>

#include "line/primitives.h"

namespace tarvex::exchange {

// Line setting MARK, one stop bit, 9600 baud; the address byte (frame byte 0)
// alone when n is not 0; then the re-open. False when the address byte was
// not taken; the port is then still the first handle.
bool address_phase_by_reopening(line::NamedPort& port, const std::uint8_t* frame, std::int32_t n);

// Line setting SPACE, one stop bit, 9600 baud; frame bytes 1 to n (the rest
// of the command and its checksum) in one write when n is not 0. False when
// they were not all taken.
bool data_phase(line::Port port, const std::uint8_t* frame, std::int32_t n);

}  // namespace tarvex::exchange
