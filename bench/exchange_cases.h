// The exchanges the timing benches run through the shared object's exported
// functions: what each sends, what the terminal answers, and the step list
// its protocol minimum comes from (step_list.h).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "pty_terminal.h"
#include "step_list.h"
#include "tarvex.h"

namespace tarvex::bench {

struct Case {
  std::string name;
  std::string what;
  StepList steps;
  // What a terminal answering at once sends, in order (after_bytes counted
  // from the previous answer).
  std::vector<testing::PtyTerminal::Step> answers;
  // The port name, and the held port when `held_baud` is set (from com_init
  // at that baud).
  std::function<std::int32_t(const char* port, tarvex_port_t held)> call;
  std::uint32_t held_baud = 0;
};

// getdata, senddata, HANDLE_GetData, HANDLE_SendData, onNet, getdata_hex,
// sendBlack and Nget at 1200 baud, in that order.
std::vector<Case> exchange_cases();

// The bytes an exchange writes in all: what its terminal hears of it.
std::uint32_t bytes_written(const Case& c);

}  // namespace tarvex::bench
