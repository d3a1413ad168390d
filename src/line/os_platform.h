// The operating system's platform, chosen once for the whole library. Each
// exported entry point builds one of these on its stack; it holds no state.
#pragma once

#if defined(_WIN32)
#include "line/win32_port.h"
namespace tarvex::line {
using OsPlatform = Win32Port;
}
#else
#include "line/posix_port.h"
namespace tarvex::line {
using OsPlatform = PosixPort;
}
#endif
