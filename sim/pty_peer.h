// The master side of a pseudo-terminal pair, whose slave a real host opens
// as its serial port: the tool's `terminal` and the pty and wine test tiers
// put their terminals here.
//
// What a pseudo-terminal shows of parity: no parity bit travels (bytes are
// just bytes), but termios read through the master are the slave's. This
// kernel clears PARENB on every setting of a pty (and forces CS8), whatever is
// asked; CMSPAR, PARODD, CSTOPB and the speed stay as set. So the setting is
// decoded from CMSPAR and PARODD alone: CMSPAR|PARODD is MARK, CMSPAR alone is
// SPACE, neither is NONE (a kernel that keeps PARENB decodes the same way).
//
// A sample is the setting when it was read, not necessarily when a byte was
// written: the kernel hands bytes written on the slave to the master through
// a worker thread, which on a loaded machine can run after the host has
// switched the line. receive() therefore samples before it waits, every
// quarter millisecond while it waits, and after it reads, so a reader can
// tell a batch during which the setting changed, and whether the line went
// into MARK since the previous batch.
#pragma once

#include <chrono>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace tarvex::sim {

enum class LineParity { Mark, Space, None };
const char* name_of(LineParity parity);
inline std::ostream& operator<<(std::ostream& os, LineParity parity) { return os << name_of(parity); }

// The slave's line setting as the master reads it.
struct LineSample {
  LineParity parity = LineParity::None;
  bool two_stop_bits = false;
  std::uint32_t baud = 0;
  std::uint32_t cflag = 0;  // as the kernel reports it, for messages
};

class PtyPeer {
 public:
  struct Options {
    // Leave the pair in the kernel's default cooked mode (echo, CR/LF
    // translation, signals) instead of raw, to show that the library makes
    // the port raw itself.
    bool start_cooked = false;
  };

  // Bytes the host wrote, as one read took them.
  struct Batch {
    std::vector<std::uint8_t> bytes;
    LineSample before;  // sampled before waiting for them
    LineSample after;   // sampled right after the read that returned them
    // The line went into MARK since the previous batch: a sample showed MARK
    // after one that did not (the last sample of the previous batch counts).
    bool mark_entered = false;
    std::chrono::steady_clock::time_point at;  // of that read
  };

  // Opens the pair; throws std::runtime_error when the system has no
  // pseudo-terminal to give.
  PtyPeer() : PtyPeer(Options{}) {}
  explicit PtyPeer(Options options);
  ~PtyPeer();
  PtyPeer(const PtyPeer&) = delete;
  PtyPeer& operator=(const PtyPeer&) = delete;

  // The slave's path, e.g. /dev/pts/7: the port name to give the host.
  const std::string& port() const { return slave_path_; }
  // A descriptor of the slave kept open, so the master never sees a hang-up
  // between two opens by the host (and for ioctls on the device).
  int slave_fd() const { return slave_fd_; }
  // The master's descriptor (non-blocking), for a terminal that waits on
  // several pairs at once.
  int master_fd() const { return master_fd_; }

  // The slave's line setting now.
  LineSample line_now() const;

  // Waits up to `timeout_ms` for bytes and takes all there are; an empty
  // batch when none came.
  Batch receive(int timeout_ms);

  // Writes what the pseudo-terminal takes now: the count, 0 when it is full,
  // -1 when the pair is gone.
  long send(const std::uint8_t* bytes, std::size_t count) const;

 private:
  int master_fd_ = -1;
  int slave_fd_ = -1;
  std::string slave_path_;
  LineParity last_parity_ = LineParity::None;  // of the last sample receive() took
};

}  // namespace tarvex::sim
