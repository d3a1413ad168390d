#include "exchange/reopen_switch.h"

namespace tarvex::exchange {

bool address_phase_by_reopening(line::NamedPort& port, const std::uint8_t* frame, std::int32_t n) {
  line::set_line(port.port(), line::mark());
  if (n != 0 && !line::checked_write(port.port(), frame, 1)) return false;
  port.reopen();
  return true;
}

bool data_phase(line::Port port, const std::uint8_t* frame, std::int32_t n) {
  line::set_line(port, line::space());
  return n == 0 || line::checked_write(port, frame + 1, n);
}

}  // namespace tarvex::exchange
