// `tarvex terminal` in a child process, for the tiers that run a host against
// the demo terminals as a user would. The first line the tool writes is the
// port; its log goes to a file, since a pipe nobody reads would fill and stop it.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>

extern char** environ;

namespace tarvex::testing {

class ToolTerminals {
 public:
  // `tool`: the Linux tool's path. `port()` is empty when it did not start.
  explicit ToolTerminals(std::string tool) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, log_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::string command = "terminal";
    char* argv[] = {tool.data(), command.data(), nullptr};
    if (posix_spawn(&pid_, tool.c_str(), &actions, nullptr, argv, environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    for (int tries = 0; pid_ > 0 && port_.empty() && tries < 500; ++tries) {
      usleep(10000);
      std::ifstream written(log_);
      std::string line;
      if (std::getline(written, line) && written) port_ = line;
    }
  }
  ~ToolTerminals() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    unlink(log_.c_str());
  }
  ToolTerminals(const ToolTerminals&) = delete;
  ToolTerminals& operator=(const ToolTerminals&) = delete;

  const std::string& port() const { return port_; }

 private:
  std::string log_ = "/tmp/tarvex_tool_terminals." + std::to_string(getpid());
  pid_t pid_ = -1;
  std::string port_;
};

}  // namespace tarvex::testing
