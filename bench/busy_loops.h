// Processor-bound loops beside a bench, at the same priority: programs of
// their own, each in a session of its own as another program on the host
// would be. The kernel's autogroup makes a session a scheduling group; loops
// inside the bench's own session (or process) would share its group's time
// with the bench's threads instead.
#pragma once

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <vector>

namespace tarvex::bench {

// To be made before any thread of the bench, so that the fork copies nothing
// but the main thread. A loop dies with the bench.
class BusyLoops {
 public:
  explicit BusyLoops(int count) {
    for (int i = 0; i < count; ++i) {
      const pid_t pid = fork();
      if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        setsid();
        volatile std::uint64_t spins = 0;
        for (;;) spins = spins + 1;
      }
      if (pid > 0) loops_.push_back(pid);
    }
  }
  ~BusyLoops() {
    for (const pid_t pid : loops_) kill(pid, SIGKILL);
    for (const pid_t pid : loops_) waitpid(pid, nullptr, 0);
  }
  BusyLoops(const BusyLoops&) = delete;
  BusyLoops& operator=(const BusyLoops&) = delete;

  int running() const { return static_cast<int>(loops_.size()); }

 private:
  std::vector<pid_t> loops_;
};

}  // namespace tarvex::bench
