// The limits getdata, dxGetdata and the legacy build's getdata choose by
// command code (the drain limit and each reply byte's), as the terminals'
// documentation lists them: written out here once, and never taken from the
// code under test.
#pragma once

#include <cstdint>

namespace tarvex::testing {

struct ListedLimits {
  std::uint8_t code;
  std::uint32_t getdata, dx_getdata, legacy_getdata;
};

inline constexpr ListedLimits kListedLimits[] = {
    {0x91, 80, 500, 1500},   {0x94, 80, 500, 1500},   {0xA1, 80, 280, 80},
    {0xC1, 100, 200, 100},   {0xA7, 50, 50, 50},      {0xC9, 50, 50, 50},
    {0x92, 2500, 500, 1500}, {0xA2, 2500, 500, 1500}, {0xC2, 2500, 500, 1500},
    // Codes no list names.
    {0x00, 1000, 500, 1500}, {0x33, 1000, 500, 1500}, {0xFF, 1000, 500, 1500},
};

}  // namespace tarvex::testing
