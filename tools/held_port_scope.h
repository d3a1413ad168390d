// A held port for the length of one command: com_init when made, com_exit
// when done, as a host brackets its handle-based exchanges.
#pragma once

#include <cstdint>

#include "line/held_port.h"

namespace tarvex::tool {

class HeldPortScope {
 public:
  HeldPortScope(line::Platform& os, const char* port_name, std::uint32_t baud)
      : os_(os), handle_(line::com_init(os, port_name, baud)) {}
  ~HeldPortScope() { line::com_exit(os_, handle_); }
  HeldPortScope(const HeldPortScope&) = delete;
  HeldPortScope& operator=(const HeldPortScope&) = delete;

  line::Handle handle() const { return handle_; }

 private:
  line::Platform& os_;
  line::Handle handle_;
};

}  // namespace tarvex::tool
