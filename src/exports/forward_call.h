// How an entry point's arguments reach its C++ function: the C function's
// arguments as they are, with the platform before them for a function that
// runs on a port and the scratch source behind them for one that takes a
// scratch area. The function's own parameter count says which.
#pragma once

#include <cstddef>

#include "exchange/scratch_area.h"
#include "line/platform.h"

namespace tarvex::exports {

template <class Function>
struct ParameterCount;
template <class R, class... Parameters>
struct ParameterCount<R (*)(Parameters...)> {
  static constexpr std::size_t value = sizeof...(Parameters);
};

// The function takes a platform first: it runs on a port.
template <auto function, class... Args>
inline constexpr bool kRunsOnAPort = ParameterCount<decltype(function)>::value > sizeof...(Args);

// `os` may be null for a function that touches no port.
template <auto function, class... Args>
auto forward_call(line::Platform* os, const exchange::ScratchSource& scratch, Args... args) {
  constexpr std::size_t extra = ParameterCount<decltype(function)>::value - sizeof...(Args);
  if constexpr (extra == 2) {
    return function(*os, args..., scratch);
  } else if constexpr (extra == 1) {
    return function(*os, args...);
  } else {
    return function(args...);
  }
}

}  // namespace tarvex::exports
