// The operating system's platform, chosen once for the whole library. Each
// exported entry point builds one of these on its stack for its one call.
#pragma once

#if defined(_WIN32)
#include "line/win32_platform.h"
namespace tarvex::line {
using OsPlatform = Win32Platform;
}
#else
#include "line/linux_platform.h"
namespace tarvex::line {
using OsPlatform = LinuxPlatform;
}
#endif
