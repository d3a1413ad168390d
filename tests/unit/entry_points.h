// Every entry point of the library behind one interface, called with the
// arguments its parameters name (exports::Arguments), so one table of calls
// can run against the exported functions of the shared objects and against
// the C++ API on the simulated bus. The legacy build's own getdata and
// senddata are there too.
#pragma once

#include <dlfcn.h>

#include <cstdint>
#include <stdexcept>
#include <string>

#include "exports/entry_point_catalog.h"
#include "scratch_ledger.h"
#include "sim_fixture.h"
#include "tarvex.h"

namespace tarvex::testing {

using exports::Arguments;
using exports::EntryPoint;

class EntryPoints {
 public:
  virtual ~EntryPoints() = default;

  // A port name and a held port to pass where a call needs one.
  virtual const char* port_name() const = 0;
  virtual tarvex_port_t held_port() const = 0;

  // The current build's entry point, or with `legacy` the legacy build's own.
  virtual std::int64_t call(const EntryPoint& entry, bool legacy, const Arguments& arguments) = 0;
};

// The exported C functions of both shared objects, looked up by name, on this
// machine's ports: a port name that names no device, and the invalid held
// port.
class ExportedEntryPoints final : public EntryPoints {
 public:
  ExportedEntryPoints() : current_(open(TARVEX_CURRENT_SO)), legacy_(open(TARVEX_LEGACY_SO)) {}
  ~ExportedEntryPoints() override {
    dlclose(legacy_);
    dlclose(current_);
  }
  ExportedEntryPoints(const ExportedEntryPoints&) = delete;
  ExportedEntryPoints& operator=(const ExportedEntryPoints&) = delete;

  const char* port_name() const override { return "/dev/tarvex-no-such-port"; }
  tarvex_port_t held_port() const override { return TARVEX_INVALID_PORT; }

  std::int64_t call(const EntryPoint& entry, bool legacy, const Arguments& arguments) override {
    void* found = dlsym(legacy ? legacy_ : current_, std::string(entry.name).c_str());
    if (found == nullptr) throw std::runtime_error(std::string(entry.name) + " is not exported");
    return entry.call_exported(found, arguments);
  }

 private:
  static void* open(const char* path) {
    void* handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) throw std::runtime_error(dlerror());
    return handle;
  }

  void* current_;
  void* legacy_;
};

// The C++ API on a simulated bus with a terminal-less port that exists and a
// port held from it, and a scratch ledger for the hex-text members. Whatever
// the calls do shows in the bus's call count and the ledger.
class SimulatedEntryPoints final : public EntryPoints {
 public:
  explicit SimulatedEntryPoints(std::uint32_t tick_start_ms)
      : rig_(tick_start_ms),
        held_(line::com_init(rig_.bus, SimRig::kPort, 9600)),
        calls_before_(rig_.bus.calls()) {}
  ~SimulatedEntryPoints() override { line::com_exit(rig_.bus, held_); }

  // Platform calls made since the held port was opened.
  std::uint64_t platform_calls() const { return rig_.bus.calls() - calls_before_; }
  const ScratchLedger& ledger() const { return ledger_; }

  const char* port_name() const override { return SimRig::kPort; }
  tarvex_port_t held_port() const override { return held_; }

  std::int64_t call(const EntryPoint& entry, bool legacy, const Arguments& arguments) override {
    return (legacy ? entry.legacy_call : entry.call)(&rig_.bus, ledger_.source(), arguments);
  }

 private:
  SimRig rig_;
  ScratchLedger ledger_;
  line::Handle held_;
  std::uint64_t calls_before_;
};

}  // namespace tarvex::testing
