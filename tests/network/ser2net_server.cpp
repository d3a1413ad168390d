#include "ser2net_server.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <thread>

namespace tarvex::testing {
namespace {

using namespace std::chrono_literals;

// A loopback port nobody listens on now. Another process may take it before
// ser2net does; the caller then tries again.
int free_port() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  const bool bound = bind(fd, reinterpret_cast<sockaddr*>(&address), size) == 0 &&
                     getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0;
  close(fd);
  if (!bound) throw std::runtime_error("no free loopback port");
  return ntohs(address.sin_port);
}

// Whether some socket listens on TCP `port` (/proc/net/tcp: the local
// address in hex, state 0A), found without connecting to it: a connection
// would make ser2net open the device.
bool listening(int port) {
  std::ifstream table("/proc/net/tcp");
  std::string line;
  char wanted[8];
  std::snprintf(wanted, sizeof wanted, ":%04X", port);
  while (std::getline(table, line)) {
    const std::size_t local = line.find(':', line.find(':') + 1);  // after "sl:"
    if (local == std::string::npos || line.compare(local, 5, wanted) != 0) continue;
    if (line.find(" 0A ") != std::string::npos) return true;
  }
  return false;
}

// The configuration of docs/NETWORK.md, bound to loopback; -Y takes '#' as
// a line break.
std::string configuration(const std::string& device, int port, Ser2net::Accepter accepter) {
  const char* telnet = accepter == Ser2net::Accepter::ComPort ? "telnet(rfc2217)" : "telnet";
  return std::string("connection: &bus#") + "  accepter: " + telnet + ",tcp,127.0.0.1," +
         std::to_string(port) +
         "#"
         "  connector: serialdev," +
         device +
         ",9600n81,local#"
         "  options:#"
         "    max-connections: 1#"
         "    kickolduser: false#"
         "    chardelay: false";
}

}  // namespace

std::string Ser2net::program() {
  for (const char* path : {TARVEX_SER2NET, "/usr/sbin/ser2net", "/usr/bin/ser2net"}) {
    if (*path != '\0' && access(path, X_OK) == 0) return path;
  }
  return "";
}

Ser2net::Ser2net(const std::string& device, Accepter accepter) {
  const std::string path = program();
  if (path.empty()) throw std::runtime_error("ser2net is not installed");
  for (int attempt = 0; attempt < 5; ++attempt) {
    const int port = free_port();
    const std::string config = configuration(device, port, accepter);
    // -n: in the foreground, so this process owns it; -u: no UUCP lock files.
    const char* argv[] = {path.c_str(), "-n", "-u", "-Y", config.c_str(), nullptr};
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("cannot start ser2net");
    if (pid_ == 0) {
      // Only system calls between fork and exec. The server goes when the
      // thread that started it does, even one that never reached kill():
      // no test that crashes or times out leaves one behind.
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      const int null = ::open("/dev/null", O_WRONLY);
      dup2(null, STDOUT_FILENO);
      dup2(null, STDERR_FILENO);
      execv(path.c_str(), const_cast<char* const*>(argv));
      _exit(127);
    }
    for (auto waited = 0ms; waited < 5000ms; waited += 5ms) {
      if (listening(port)) {
        name_ = "rfc2217://127.0.0.1:" + std::to_string(port);
        return;
      }
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {  // it gave up: the port was taken
        pid_ = -1;
        break;
      }
      std::this_thread::sleep_for(5ms);
    }
    kill();
  }
  throw std::runtime_error("ser2net did not come up");
}

Ser2net::~Ser2net() {
  kill();
}

void Ser2net::kill() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

}  // namespace tarvex::testing
