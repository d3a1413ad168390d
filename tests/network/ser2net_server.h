// A network serial server for the tests and the timing bench: ser2net,
// started on a free loopback port in front of one device (the slave of a
// PtyTerminal), speaking RFC 2217, one client at a time, with the settings
// docs/NETWORK.md gives. It lives as long as this object, or until kill(),
// and never longer than the thread that made it.
#pragma once

#include <sys/types.h>

#include <string>

namespace tarvex::testing {

class Ser2net {
 public:
  // ser2net's path, or empty when it is not installed.
  static std::string program();

  enum class Accepter { ComPort, PlainTelnet };

  // Starts ser2net for `device` and waits until it listens; throws
  // std::runtime_error when it does not come up. A plain telnet accepter
  // refuses the com port option.
  explicit Ser2net(const std::string& device, Accepter accepter = Accepter::ComPort);
  ~Ser2net();
  Ser2net(const Ser2net&) = delete;
  Ser2net& operator=(const Ser2net&) = delete;

  // rfc2217://127.0.0.1:PORT: the port name to give the library.
  const std::string& port_name() const { return name_; }

  // Stops the server at once (SIGKILL), as a server that crashes or loses
  // power: its connections close under the client.
  void kill();

 private:
  pid_t pid_ = -1;
  std::string name_;
};

}  // namespace tarvex::testing
