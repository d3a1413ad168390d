// A scratch source for tests: it takes from the heap like the library's own,
// or refuses, and keeps count of what was taken and given back.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

#include "exchange/scratch_area.h"

namespace tarvex::testing {

struct ScratchLedger {
  bool refuse = false;
  std::vector<std::size_t> sizes;  // of every area taken
  std::size_t given_back = 0;

  static ScratchLedger refusing() {
    ScratchLedger ledger;
    ledger.refuse = true;
    return ledger;
  }

  exchange::ScratchSource source() { return {this, &take, &give_back}; }
  bool balanced() const { return sizes.size() == given_back; }

 private:
  static std::uint8_t* take(void* context, std::size_t bytes) noexcept {
    auto& ledger = *static_cast<ScratchLedger*>(context);
    if (ledger.refuse) return nullptr;
    ledger.sizes.push_back(bytes);
    // Filled with a pattern, so a byte the call forgets to set shows.
    auto* area = new (std::nothrow) std::uint8_t[bytes];
    if (area != nullptr) std::fill_n(area, bytes, std::uint8_t{0xA5});
    return area;
  }
  static void give_back(void* context, std::uint8_t* area) noexcept {
    ++static_cast<ScratchLedger*>(context)->given_back;
    delete[] area;
  }
};

}  // namespace tarvex::testing
