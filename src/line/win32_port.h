// The Win32 backend.
#pragma once

#include "line/platform.h"

namespace tarvex::line {

class Win32Port final : public Platform {
 public:
  Handle open(const char* name, TimeoutSet timeouts) override;
  void set_line(Handle port, const LineSetting& setting) override;
  std::uint32_t write(Handle port, const std::uint8_t* bytes, std::uint32_t count) override;
  std::uint32_t read_byte(Handle port, std::uint8_t* destination) override;
  std::optional<std::uint32_t> output_queue(Handle port) override;
  void purge_input(Handle port) override;
  void close(Handle port) override;
  std::uint32_t tick() override;
};

}  // namespace tarvex::line
