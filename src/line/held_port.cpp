#include "line/held_port.h"

#include "line/primitives.h"

namespace tarvex::line {

Handle com_init(Platform& os, const char* port_name, std::uint32_t baud) {
  if (port_name == nullptr) return kInvalidHandle;
  const Handle handle = open_by_name(os, port_name, TimeoutSet::Standard);
  if (handle == kInvalidHandle) return handle;
  // A port that will not take MARK cannot address a terminal: the host
  // learns it here, with the reason, rather than from every exchange.
  if (!set_line({os, handle}, mark(baud))) {
    release({os, handle});
    return kInvalidHandle;
  }
  return handle;
}

Result com_exit(Platform& os, Handle port) {
  release({os, port});
  return kOk;
}

}  // namespace tarvex::line
