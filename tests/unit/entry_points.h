// Every entry point of the library behind one interface, with the C
// signatures of include/tarvex.h, so one table of calls can run against the
// exported functions of the shared objects and against the C++ API on the
// simulated bus. The legacy build's getdata and senddata are there too.
#pragma once

#include <dlfcn.h>

#include <cstdint>
#include <stdexcept>
#include <string>

#include "exchange/blacklist.h"
#include "exchange/data_block.h"
#include "exchange/hex_exchange.h"
#include "exchange/module.h"
#include "exchange/online_query.h"
#include "exchange/request_reply.h"
#include "legacy/legacy_exchanges.h"
#include "line/held_port.h"
#include "scratch_ledger.h"
#include "sim_fixture.h"
#include "tarvex.h"
#include "transform/lock_transforms.h"
#include "transform/small_codecs.h"

namespace tarvex::testing {

class EntryPoints {
 public:
  virtual ~EntryPoints() = default;

  // A port name and a held port to pass where a call needs one.
  virtual const char* port_name() const = 0;
  virtual tarvex_port_t held_port() const = 0;

  virtual tarvex_port_t com_init(const char* name, std::uint32_t baud) = 0;
  virtual std::int32_t com_exit(tarvex_port_t port) = 0;

  virtual std::int32_t getdata(std::int32_t n, std::uint8_t* f, std::int32_t r, std::uint8_t* reply,
                               const char* name) = 0;
  virtual std::int32_t nGetData(std::int32_t n, std::uint8_t* f, std::int32_t r,
                                std::uint8_t* reply, const char* name, std::uint32_t baud,
                                std::uint32_t limit) = 0;
  virtual std::int32_t dxGetdata(std::int32_t n, std::uint8_t* f, std::int32_t r,
                                 std::uint8_t* reply, const char* name) = 0;
  virtual std::int32_t Nget(std::int32_t n, std::uint8_t* f, std::int32_t r, std::uint8_t* reply,
                            tarvex_port_t port) = 0;
  virtual std::int32_t HANDLE_GetData(tarvex_port_t port, std::int32_t n, std::uint8_t* f,
                                      std::int32_t r, std::uint8_t* reply, std::uint32_t limit) = 0;
  virtual std::int32_t legacy_getdata(std::int32_t n, std::uint8_t* f, std::int32_t r,
                                      std::uint8_t* reply, const char* name) = 0;
  virtual std::int32_t legacy_senddata(std::int32_t n, std::uint8_t* f, std::int32_t m,
                                       std::uint8_t* b, const char* name) = 0;

  virtual std::int32_t senddata(std::int32_t n, std::uint8_t* f, std::int32_t m, std::uint8_t* b,
                                const char* name) = 0;
  virtual std::int32_t nSendData(std::int32_t n, std::uint8_t* f, std::int32_t m, std::uint8_t* b,
                                 const char* name, std::uint32_t baud, std::uint32_t limit) = 0;
  virtual std::int32_t dxSenddata(std::int32_t n, std::uint8_t* f, std::int32_t m, std::uint8_t* b,
                                  const char* name) = 0;
  virtual std::int32_t Nsend(std::int32_t n, std::uint8_t* f, std::int32_t m, std::uint8_t* b,
                             tarvex_port_t port) = 0;
  virtual std::int32_t HANDLE_SendData(tarvex_port_t port, std::int32_t n, std::uint8_t* f,
                                       std::int32_t m, std::uint8_t* b, std::uint32_t limit) = 0;
  virtual std::int32_t sendDataUIM(tarvex_port_t port, std::int32_t n, std::uint8_t* f,
                                   std::int32_t m, std::uint8_t* b, std::uint32_t limit) = 0;

  virtual std::int32_t getdata_hex(std::int32_t n, const char* command, std::int32_t r, char* reply,
                                   const char* name) = 0;
  virtual std::int32_t senddata_hex(std::int32_t n, const char* command, std::int32_t m,
                                    const char* block, const char* name) = 0;

  virtual std::int32_t sendBlack(std::int32_t address, std::int32_t count, const std::uint8_t* list,
                                 const char* name) = 0;
  virtual std::int32_t sendBlack_hex(std::int32_t address, std::int32_t count, const char* text,
                                     const char* name) = 0;
  virtual std::int32_t sSendBlack(std::int32_t word, std::int32_t code, std::int32_t count,
                                  const std::uint8_t* list, const char* name) = 0;

  virtual std::int32_t HANDLE_ComData(tarvex_port_t port, std::int32_t n, std::uint8_t* f,
                                      std::int32_t m, std::uint8_t* b, std::int32_t r,
                                      std::uint8_t* reply, std::uint32_t limit) = 0;
  virtual std::int32_t getDataUIM(tarvex_port_t port, std::int32_t n, const std::uint8_t* f,
                                  std::int32_t r, std::uint8_t* reply, std::uint32_t limit) = 0;
  virtual std::int32_t sam_GetData(tarvex_port_t port, std::int32_t n, const std::uint8_t* f,
                                   std::int32_t r, std::uint8_t* reply, std::uint32_t limit) = 0;

  virtual std::int32_t onNet(std::int32_t address, std::uint8_t* record, const char* name) = 0;
  virtual std::int32_t HANDLE_OnNet(tarvex_port_t port, std::int32_t address,
                                    std::uint8_t* record) = 0;

  virtual std::int32_t keylock(std::int32_t i, const std::uint8_t* in, std::uint8_t* out) = 0;
  virtual std::int32_t cardLock(std::int32_t i, const std::uint8_t* in, std::uint8_t* out) = 0;
  virtual std::int32_t faka_485(std::int32_t i, const std::uint8_t* in, std::uint8_t* out) = 0;
  virtual std::int32_t faka_4852(std::int32_t i, const std::uint8_t* in, std::uint8_t* out) = 0;
  virtual std::int32_t fakaUnlock(std::int32_t i, const std::uint8_t* in, std::uint8_t* out) = 0;
  virtual std::int32_t abcd(const std::uint8_t* in, std::uint8_t* out, std::int32_t mode) = 0;
  virtual std::int32_t change(const std::uint8_t* in, std::uint8_t* out) = 0;
  virtual std::int32_t ascc(const std::uint8_t* in, std::uint8_t* out) = 0;
};

// The exported C functions of the shared objects, on this machine's ports: a
// port name that names no device, and the invalid held port. The current
// build is linked in; the legacy build, whose entry points carry the same
// names, is loaded beside it.
class ExportedEntryPoints final : public EntryPoints {
 public:
  ExportedEntryPoints() : legacy_(dlopen(TARVEX_LEGACY_SO, RTLD_NOW | RTLD_LOCAL)) {
    if (legacy_ == nullptr) throw std::runtime_error(dlerror());
  }
  ~ExportedEntryPoints() override { dlclose(legacy_); }
  ExportedEntryPoints(const ExportedEntryPoints&) = delete;
  ExportedEntryPoints& operator=(const ExportedEntryPoints&) = delete;

  const char* port_name() const override { return "/dev/tarvex-no-such-port"; }
  tarvex_port_t held_port() const override { return TARVEX_INVALID_PORT; }

  tarvex_port_t com_init(const char* name, std::uint32_t baud) override {
    return ::com_init(name, baud);
  }
  std::int32_t com_exit(tarvex_port_t port) override { return ::com_exit(port); }

  std::int32_t getdata(std::int32_t n, std::uint8_t* f, std::int32_t r, std::uint8_t* reply,
                       const char* name) override {
    return ::getdata(n, f, r, reply, name);
  }
  std::int32_t nGetData(std::int32_t n, std::uint8_t* f, std::int32_t r, std::uint8_t* reply,
                        const char* name, std::uint32_t baud, std::uint32_t limit) override {
    return ::nGetData(n, f, r, reply, name, baud, limit);
  }
  std::int32_t dxGetdata(std::int32_t n, std::uint8_t* f, std::int32_t r, std::uint8_t* reply,
                         const char* name) override {
    return ::dxGetdata(n, f, r, reply, name);
  }
  std::int32_t Nget(std::int32_t n, std::uint8_t* f, std::int32_t r, std::uint8_t* reply,
                    tarvex_port_t port) override {
    return ::Nget(n, f, r, reply, port);
  }
  std::int32_t HANDLE_GetData(tarvex_port_t port, std::int32_t n, std::uint8_t* f, std::int32_t r,
                              std::uint8_t* reply, std::uint32_t limit) override {
    return ::HANDLE_GetData(port, n, f, r, reply, limit);
  }
  std::int32_t senddata(std::int32_t n, std::uint8_t* f, std::int32_t m, std::uint8_t* b,
                        const char* name) override {
    return ::senddata(n, f, m, b, name);
  }
  std::int32_t nSendData(std::int32_t n, std::uint8_t* f, std::int32_t m, std::uint8_t* b,
                         const char* name, std::uint32_t baud, std::uint32_t limit) override {
    return ::nSendData(n, f, m, b, name, baud, limit);
  }
  std::int32_t dxSenddata(std::int32_t n, std::uint8_t* f, std::int32_t m, std::uint8_t* b,
                          const char* name) override {
    return ::dxSenddata(n, f, m, b, name);
  }
  std::int32_t Nsend(std::int32_t n, std::uint8_t* f, std::int32_t m, std::uint8_t* b,
                     tarvex_port_t port) override {
    return ::Nsend(n, f, m, b, port);
  }
  std::int32_t HANDLE_SendData(tarvex_port_t port, std::int32_t n, std::uint8_t* f, std::int32_t m,
                               std::uint8_t* b, std::uint32_t limit) override {
    return ::HANDLE_SendData(port, n, f, m, b, limit);
  }
  std::int32_t sendDataUIM(tarvex_port_t port, std::int32_t n, std::uint8_t* f, std::int32_t m,
                           std::uint8_t* b, std::uint32_t limit) override {
    return ::sendDataUIM(port, n, f, m, b, limit);
  }
  std::int32_t getdata_hex(std::int32_t n, const char* command, std::int32_t r, char* reply,
                           const char* name) override {
    return ::getdata_hex(n, command, r, reply, name);
  }
  std::int32_t senddata_hex(std::int32_t n, const char* command, std::int32_t m, const char* block,
                            const char* name) override {
    return ::senddata_hex(n, command, m, block, name);
  }
  std::int32_t sendBlack(std::int32_t address, std::int32_t count, const std::uint8_t* list,
                         const char* name) override {
    return ::sendBlack(address, count, list, name);
  }
  std::int32_t sendBlack_hex(std::int32_t address, std::int32_t count, const char* text,
                             const char* name) override {
    return ::sendBlack_hex(address, count, text, name);
  }
  std::int32_t sSendBlack(std::int32_t word, std::int32_t code, std::int32_t count,
                          const std::uint8_t* list, const char* name) override {
    return ::sSendBlack(word, code, count, list, name);
  }
  std::int32_t HANDLE_ComData(tarvex_port_t port, std::int32_t n, std::uint8_t* f, std::int32_t m,
                              std::uint8_t* b, std::int32_t r, std::uint8_t* reply,
                              std::uint32_t limit) override {
    return ::HANDLE_ComData(port, n, f, m, b, r, reply, limit);
  }
  std::int32_t getDataUIM(tarvex_port_t port, std::int32_t n, const std::uint8_t* f, std::int32_t r,
                          std::uint8_t* reply, std::uint32_t limit) override {
    return ::getDataUIM(port, n, f, r, reply, limit);
  }
  std::int32_t sam_GetData(tarvex_port_t port, std::int32_t n, const std::uint8_t* f,
                           std::int32_t r, std::uint8_t* reply, std::uint32_t limit) override {
    return ::sam_GetData(port, n, f, r, reply, limit);
  }
  std::int32_t onNet(std::int32_t address, std::uint8_t* record, const char* name) override {
    return ::onNet(address, record, name);
  }
  std::int32_t HANDLE_OnNet(tarvex_port_t port, std::int32_t address,
                            std::uint8_t* record) override {
    return ::HANDLE_OnNet(port, address, record);
  }
  std::int32_t keylock(std::int32_t i, const std::uint8_t* in, std::uint8_t* out) override {
    return ::keylock(i, in, out);
  }
  std::int32_t cardLock(std::int32_t i, const std::uint8_t* in, std::uint8_t* out) override {
    return ::cardLock(i, in, out);
  }
  std::int32_t faka_485(std::int32_t i, const std::uint8_t* in, std::uint8_t* out) override {
    return ::faka_485(i, in, out);
  }
  std::int32_t faka_4852(std::int32_t i, const std::uint8_t* in, std::uint8_t* out) override {
    return ::faka_4852(i, in, out);
  }
  std::int32_t fakaUnlock(std::int32_t i, const std::uint8_t* in, std::uint8_t* out) override {
    return ::fakaUnlock(i, in, out);
  }
  std::int32_t abcd(const std::uint8_t* in, std::uint8_t* out, std::int32_t mode) override {
    return ::abcd(in, out, mode);
  }
  std::int32_t change(const std::uint8_t* in, std::uint8_t* out) override {
    return ::change(in, out);
  }
  std::int32_t ascc(const std::uint8_t* in, std::uint8_t* out) override { return ::ascc(in, out); }
  std::int32_t legacy_getdata(std::int32_t n, std::uint8_t* f, std::int32_t r, std::uint8_t* reply,
                              const char* name) override {
    return legacy<decltype(&::getdata)>("getdata")(n, f, r, reply, name);
  }
  std::int32_t legacy_senddata(std::int32_t n, std::uint8_t* f, std::int32_t m, std::uint8_t* b,
                               const char* name) override {
    return legacy<decltype(&::senddata)>("senddata")(n, f, m, b, name);
  }

 private:
  template <class Function>
  Function legacy(const char* name) const {
    void* found = dlsym(legacy_, name);
    if (found == nullptr) throw std::runtime_error(name);
    return reinterpret_cast<Function>(found);
  }

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

  tarvex_port_t com_init(const char* name, std::uint32_t baud) override {
    return line::com_init(os(), name, baud);
  }
  std::int32_t com_exit(tarvex_port_t port) override { return line::com_exit(os(), port); }

  std::int32_t getdata(std::int32_t n, std::uint8_t* f, std::int32_t r, std::uint8_t* reply,
                       const char* name) override {
    return exchange::getdata(os(), n, f, r, reply, name);
  }
  std::int32_t nGetData(std::int32_t n, std::uint8_t* f, std::int32_t r, std::uint8_t* reply,
                        const char* name, std::uint32_t baud, std::uint32_t limit) override {
    return exchange::nGetData(os(), n, f, r, reply, name, baud, limit);
  }
  std::int32_t dxGetdata(std::int32_t n, std::uint8_t* f, std::int32_t r, std::uint8_t* reply,
                         const char* name) override {
    return exchange::dxGetdata(os(), n, f, r, reply, name);
  }
  std::int32_t Nget(std::int32_t n, std::uint8_t* f, std::int32_t r, std::uint8_t* reply,
                    tarvex_port_t port) override {
    return exchange::Nget(os(), n, f, r, reply, port);
  }
  std::int32_t HANDLE_GetData(tarvex_port_t port, std::int32_t n, std::uint8_t* f, std::int32_t r,
                              std::uint8_t* reply, std::uint32_t limit) override {
    return exchange::HANDLE_GetData(os(), port, n, f, r, reply, limit);
  }
  std::int32_t legacy_getdata(std::int32_t n, std::uint8_t* f, std::int32_t r, std::uint8_t* reply,
                              const char* name) override {
    return legacy::getdata(os(), n, f, r, reply, name);
  }
  std::int32_t legacy_senddata(std::int32_t n, std::uint8_t* f, std::int32_t m, std::uint8_t* b,
                               const char* name) override {
    return legacy::senddata(os(), n, f, m, b, name);
  }
  std::int32_t senddata(std::int32_t n, std::uint8_t* f, std::int32_t m, std::uint8_t* b,
                        const char* name) override {
    return exchange::senddata(os(), n, f, m, b, name);
  }
  std::int32_t nSendData(std::int32_t n, std::uint8_t* f, std::int32_t m, std::uint8_t* b,
                         const char* name, std::uint32_t baud, std::uint32_t limit) override {
    return exchange::nSendData(os(), n, f, m, b, name, baud, limit);
  }
  std::int32_t dxSenddata(std::int32_t n, std::uint8_t* f, std::int32_t m, std::uint8_t* b,
                          const char* name) override {
    return exchange::dxSenddata(os(), n, f, m, b, name);
  }
  std::int32_t Nsend(std::int32_t n, std::uint8_t* f, std::int32_t m, std::uint8_t* b,
                     tarvex_port_t port) override {
    return exchange::Nsend(os(), n, f, m, b, port);
  }
  std::int32_t HANDLE_SendData(tarvex_port_t port, std::int32_t n, std::uint8_t* f, std::int32_t m,
                               std::uint8_t* b, std::uint32_t limit) override {
    return exchange::HANDLE_SendData(os(), port, n, f, m, b, limit);
  }
  std::int32_t sendDataUIM(tarvex_port_t port, std::int32_t n, std::uint8_t* f, std::int32_t m,
                           std::uint8_t* b, std::uint32_t limit) override {
    return exchange::sendDataUIM(os(), port, n, f, m, b, limit);
  }
  std::int32_t getdata_hex(std::int32_t n, const char* command, std::int32_t r, char* reply,
                           const char* name) override {
    return exchange::getdata_hex(os(), n, command, r, reply, name, ledger_.source());
  }
  std::int32_t senddata_hex(std::int32_t n, const char* command, std::int32_t m, const char* block,
                            const char* name) override {
    return exchange::senddata_hex(os(), n, command, m, block, name, ledger_.source());
  }
  std::int32_t sendBlack(std::int32_t address, std::int32_t count, const std::uint8_t* list,
                         const char* name) override {
    return exchange::sendBlack(os(), address, count, list, name);
  }
  std::int32_t sendBlack_hex(std::int32_t address, std::int32_t count, const char* text,
                             const char* name) override {
    return exchange::sendBlack_hex(os(), address, count, text, name, ledger_.source());
  }
  std::int32_t sSendBlack(std::int32_t word, std::int32_t code, std::int32_t count,
                          const std::uint8_t* list, const char* name) override {
    return exchange::sSendBlack(os(), word, code, count, list, name);
  }
  std::int32_t HANDLE_ComData(tarvex_port_t port, std::int32_t n, std::uint8_t* f, std::int32_t m,
                              std::uint8_t* b, std::int32_t r, std::uint8_t* reply,
                              std::uint32_t limit) override {
    return exchange::HANDLE_ComData(os(), port, n, f, m, b, r, reply, limit);
  }
  std::int32_t getDataUIM(tarvex_port_t port, std::int32_t n, const std::uint8_t* f, std::int32_t r,
                          std::uint8_t* reply, std::uint32_t limit) override {
    return exchange::getDataUIM(os(), port, n, f, r, reply, limit);
  }
  std::int32_t sam_GetData(tarvex_port_t port, std::int32_t n, const std::uint8_t* f,
                           std::int32_t r, std::uint8_t* reply, std::uint32_t limit) override {
    return exchange::sam_GetData(os(), port, n, f, r, reply, limit);
  }
  std::int32_t onNet(std::int32_t address, std::uint8_t* record, const char* name) override {
    return exchange::onNet(os(), address, record, name);
  }
  std::int32_t HANDLE_OnNet(tarvex_port_t port, std::int32_t address,
                            std::uint8_t* record) override {
    return exchange::HANDLE_OnNet(os(), port, address, record);
  }
  std::int32_t keylock(std::int32_t i, const std::uint8_t* in, std::uint8_t* out) override {
    return transform::keylock(i, in, out);
  }
  std::int32_t cardLock(std::int32_t i, const std::uint8_t* in, std::uint8_t* out) override {
    return transform::cardLock(i, in, out);
  }
  std::int32_t faka_485(std::int32_t i, const std::uint8_t* in, std::uint8_t* out) override {
    return transform::faka_485(i, in, out);
  }
  std::int32_t faka_4852(std::int32_t i, const std::uint8_t* in, std::uint8_t* out) override {
    return transform::faka_4852(i, in, out);
  }
  std::int32_t fakaUnlock(std::int32_t i, const std::uint8_t* in, std::uint8_t* out) override {
    return transform::fakaUnlock(i, in, out);
  }
  std::int32_t abcd(const std::uint8_t* in, std::uint8_t* out, std::int32_t mode) override {
    return transform::abcd(in, out, mode);
  }
  std::int32_t change(const std::uint8_t* in, std::uint8_t* out) override {
    return transform::change(in, out);
  }
  std::int32_t ascc(const std::uint8_t* in, std::uint8_t* out) override {
    return transform::ascc(in, out);
  }

 private:
  sim::SimBus& os() { return rig_.bus; }

  SimRig rig_;
  ScratchLedger ledger_;
  line::Handle held_;
  std::uint64_t calls_before_;
};

}  // namespace tarvex::testing
