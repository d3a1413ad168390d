// Why a call that met an operating-system failure ended, in the system's own
// words and with a hint where the cause is a usual one: "open /dev/ttyUSB0:
// Permission denied; is the user in the dialout group?".
#pragma once

#include <string>

#include "line/platform.h"

namespace tarvex::tool {

std::string system_reason(const line::OsError& error, const std::string& port);

}  // namespace tarvex::tool
