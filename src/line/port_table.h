// The ports the library has open, process-wide: every port on Linux, the
// network ports on Windows (a COM port's handle is the one CreateFileA gave,
// as Windows hosts expect).
//
// A handle names a slot of the table and the generation of that slot's use:
// once a port is closed, its handle is never valid again, and a value the
// library did not give out (a raw descriptor, 0, a closed handle) reaches no
// descriptor of the host's. Its two lowest bits are set, which no Windows
// kernel handle's are, so the two kinds of handle never meet. Each slot has
// its own lock, held for one operation on its port: calls on different
// ports never wait for each other, and a close on one thread cannot pull a
// port from under another's call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <utility>
#include <variant>

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#endif

#include "line/platform.h"
#include "line/rfc2217_device.h"
#if !defined(_WIN32)
#include "line/termios_device.h"
#endif

namespace tarvex::line {

// What an open port of the table is: a local serial device (Linux), or one
// on a network serial server.
#if defined(_WIN32)
using OpenDevice = std::variant<Rfc2217Device>;
#else
using OpenDevice = std::variant<TermiosDevice, Rfc2217Device>;
#endif

// A slot's lock. Windows: an SRWLOCK, which needs neither set-up nor
// clean-up (the mingw runtime the DLLs are built with has no std::mutex).
class SlotLock {
 public:
#if defined(_WIN32)
  void lock() { AcquireSRWLockExclusive(&lock_); }
  void unlock() { ReleaseSRWLockExclusive(&lock_); }

 private:
  SRWLOCK lock_ = SRWLOCK_INIT;
#else
  void lock() { lock_.lock(); }
  void unlock() { lock_.unlock(); }

 private:
  std::mutex lock_;
#endif
};

class PortTable {
 public:
  static constexpr std::size_t kSlots = 1024;

  static PortTable& instance();

  // Whether `handle` has the form of the table's handles.
  static bool names_slot(Handle handle);

  // A slot for a port about to be opened; nothing when every slot is taken.
  // The slot is the caller's until it publishes a device there or gives it
  // back.
  std::optional<std::size_t> reserve();
  void give_back(std::size_t slot);
  Handle publish(std::size_t slot, OpenDevice&& device);

  // Runs `operation(device)` under the slot's lock; nothing when `handle`
  // names no open port.
  template <class Operation>
  auto with(Handle handle, Operation&& operation)
      -> std::optional<decltype(operation(std::declval<OpenDevice&>()))> {
    Slot* slot = find(handle);
    if (slot == nullptr) return std::nullopt;
    const std::lock_guard lock(slot->lock);
    if (!slot->device || slot->handle != handle) return std::nullopt;
    return operation(*slot->device);
  }

  // Runs `close(device)` under the slot's lock and frees the slot; false
  // when `handle` names no open port.
  template <class Close>
  bool remove(Handle handle, Close&& close) {
    Slot* slot = find(handle);
    if (slot == nullptr) return false;
    {
      const std::lock_guard lock(slot->lock);
      if (!slot->device || slot->handle != handle) return false;
      close(*slot->device);
      slot->device.reset();
    }
    give_back(index_of(handle));
    return true;
  }

 private:
  struct Slot {
    SlotLock lock;
    std::optional<OpenDevice> device;    // while the port is open
    Handle handle = kInvalidHandle;  // the handle it was given
    std::uint32_t generation = 0;    // of the last use
  };

  PortTable();
  static std::size_t index_of(Handle handle);
  Slot* find(Handle handle);

  Slot slots_[kSlots];
  SlotLock free_lock_;
  // Free slots, oldest first, so a closed slot is reused as late as possible.
  std::size_t free_[kSlots];
  std::size_t free_head_ = 0;
  std::size_t free_count_ = kSlots;
};

}  // namespace tarvex::line
