// The errors the simulated bus keeps when a call fails, in the host system's
// own numbers (errno on Linux, GetLastError on Windows), so that the system's
// words for them (line::os_error_text) and the tool's hints read as they do
// for a real port there.
#pragma once

#include <cstdint>

#if defined(_WIN32)
#include <winerror.h>
#else
#include <cerrno>
#endif

namespace tarvex::sim {

#if defined(_WIN32)
inline constexpr std::uint32_t kNoSuchPort = ERROR_FILE_NOT_FOUND;
// Windows reports a port another program holds as access denied.
inline constexpr std::uint32_t kPortBusy = ERROR_ACCESS_DENIED;
inline constexpr std::uint32_t kBadHandle = ERROR_INVALID_HANDLE;
inline constexpr std::uint32_t kDeviceFailed = ERROR_GEN_FAILURE;
#else
inline constexpr std::uint32_t kNoSuchPort = ENOENT;
inline constexpr std::uint32_t kPortBusy = EBUSY;
inline constexpr std::uint32_t kBadHandle = EBADF;
inline constexpr std::uint32_t kDeviceFailed = EIO;
#endif

}  // namespace tarvex::sim
