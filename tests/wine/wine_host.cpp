#include "wine_host.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <thread>

extern char** environ;

namespace tarvex::testing {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const fs::path kWine64 = TARVEX_WINE64;
const fs::path kHostExe = TARVEX_WINE_HOST_EXE;
const fs::path kDll = TARVEX_WIN64_DLL;
const fs::path kLegacyDll = TARVEX_WIN64_LEGACY_DLL;
const fs::path kPrefix = TARVEX_WINE_PREFIX;
const fs::path kToolExe = TARVEX_WIN64_TOOL;

// The environment of every wine run: the private prefix, no debug channels,
// no display, no offer to install the .NET or HTML engines, no exchange log
// but the one a test asks for, and a UART's driver in front of the port.
std::vector<std::string> wine_environment(const std::vector<std::string>& extra) {
  const auto replaced = [](const std::string& entry) {
    for (const char* name : {"WINEPREFIX=", "WINEDEBUG=", "WINEDLLOVERRIDES=", "DISPLAY=",
                             "TARVEX_LOG=", "TARVEX_LOG_MAX=", "LD_PRELOAD="}) {
      if (entry.rfind(name, 0) == 0) return true;
    }
    return false;
  };
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    if (!replaced(*e)) env.emplace_back(*e);
  }
  env.push_back("WINEPREFIX=" + kPrefix.string());
  env.push_back("WINEDEBUG=-all");
  env.push_back("WINEDLLOVERRIDES=mscoree,mshtml=");
  env.push_back(std::string("LD_PRELOAD=") + TARVEX_WINE_UART_STANDIN);
  env.insert(env.end(), extra.begin(), extra.end());
  return env;
}

struct Finished {
  int exit_status = -1;
  std::string out;
  std::string err;
};

// Runs a program with the wine environment, collecting its output, and kills
// it when it is not done by `timeout`. It does not wait for the end of the
// output: wineserver, which the first run starts, may keep the pipes open
// after the program itself has gone.
Finished run_program(const std::vector<std::string>& argv, std::chrono::seconds timeout,
                     const std::vector<std::string>& environment = {}) {
  Finished done;
  int out_pipe[2];
  int err_pipe[2];
  if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0) return done;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err_pipe[1], 2);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);

  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::vector<std::string> env_strings = wine_environment(environment);
  std::vector<char*> env;
  for (std::string& e : env_strings) env.push_back(e.data());
  env.push_back(nullptr);

  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), env.data());
  posix_spawn_file_actions_destroy(&actions);
  close(out_pipe[1]);
  close(err_pipe[1]);
  if (spawned != 0) {
    done.err = "cannot start " + argv[0] + ": " + std::strerror(spawned);
    close(out_pipe[0]);
    close(err_pipe[0]);
    return done;
  }
  fcntl(out_pipe[0], F_SETFL, O_NONBLOCK);
  fcntl(err_pipe[0], F_SETFL, O_NONBLOCK);

  const auto drain = [&] {
    char buffer[4096];
    ssize_t n;
    while ((n = read(out_pipe[0], buffer, sizeof buffer)) > 0)
      done.out.append(buffer, static_cast<std::size_t>(n));
    while ((n = read(err_pipe[0], buffer, sizeof buffer)) > 0)
      done.err.append(buffer, static_cast<std::size_t>(n));
  };
  const Clock::time_point deadline = Clock::now() + timeout;
  for (;;) {
    pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
    poll(fds, 2, 20);
    drain();
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) {
      drain();
      done.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      break;
    }
    if (Clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      drain();
      done.err += "\n(killed after " + std::to_string(timeout.count()) + " s)";
      break;
    }
  }
  close(out_pipe[0]);
  close(err_pipe[0]);
  return done;
}

bool prefix_initialised() {
  return fs::exists(kPrefix / "system.reg");
}

// Runs `argv` with the prefix's COM port `port` pointing at `device`.
Finished run_on_port(const std::vector<std::string>& argv, const std::string& device,
                     const std::string& port, std::chrono::seconds timeout,
                     const std::vector<std::string>& environment) {
  // Wine names serial devices by their links in dosdevices, in lower case.
  std::string link_name = port;
  for (char& c : link_name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const fs::path link = kPrefix / "dosdevices" / link_name;
  std::error_code ignored;
  fs::remove(link, ignored);
  fs::create_symlink(device, link);
  // A wine process that starts while the previous run's wine server is
  // shutting down loses its connection before the program runs at all ("wine
  // client error"); such a start is tried again, since nothing reached the
  // port.
  Finished done = run_program(argv, timeout, environment);
  for (int retry = 0; retry < 2 && done.out.empty() &&
                      done.err.find("wine client error") != std::string::npos;
       ++retry) {
    std::this_thread::sleep_for(std::chrono::seconds{1});
    done = run_program(argv, timeout, environment);
  }
  fs::remove(link, ignored);
  return done;
}

}  // namespace

::testing::AssertionResult WineHost::ready() {
  for (const fs::path& dll : {kDll, kLegacyDll, kToolExe}) {
    if (!fs::exists(dll)) {
      return ::testing::AssertionFailure()
             << dll << " is missing: build the win64 preset first "
             << "(cmake --preset win64 && cmake --build build/win64 -j2)";
    }
  }
  if (!fs::exists(kWine64)) {
    return ::testing::AssertionFailure()
           << "wine64 not found (" << kWine64 << "): install the wine64 package";
  }
  if (!fs::exists(kHostExe)) {
    return ::testing::AssertionFailure()
           << kHostExe << " is missing: it is built with x86_64-w64-mingw32-g++ "
           << "(package g++-mingw-w64-x86-64), found when the linux preset is configured";
  }
  if (prefix_initialised()) return ::testing::AssertionSuccess();

  // One creator at a time; the others wait and find it done.
  fs::create_directories(kPrefix.parent_path());
  const std::string lock_path = kPrefix.string() + ".lock";
  const int lock = open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (lock >= 0) flock(lock, LOCK_EX);
  Finished boot;
  if (!prefix_initialised()) {
    boot = run_program({kWine64.string(), "wineboot.exe", "-i"}, std::chrono::seconds{300});
    // The registry reaches the disk when the wine server stops.
    run_program({(kWine64.parent_path() / "wineserver").string(), "-w"}, std::chrono::seconds{60});
  }
  if (lock >= 0) close(lock);
  if (prefix_initialised()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << "wineboot did not create " << kPrefix << " (status " << boot.exit_status << "):\n"
         << boot.err;
}

std::string WineHost::windows_path(const std::string& path) {
  std::string text = "Z:" + fs::absolute(path).string();
  for (char& c : text) {
    if (c == '/') c = '\\';
  }
  return text;
}

WineHost::Output WineHost::run_tool(const std::vector<std::string>& arguments,
                                    const std::string& device, std::chrono::seconds timeout) {
  std::vector<std::string> argv = {kWine64.string(), kToolExe.string()};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  Finished done = device.empty() ? run_program(argv, timeout)
                                 : run_on_port(argv, device, kPort, timeout, {});
  // Windows ends its lines with CR LF.
  for (std::string* text : {&done.out, &done.err}) std::erase(*text, '\r');
  return {done.exit_status, done.out, done.err};
}

HostRun WineHost::run(const PtyTerminal& terminal, const std::vector<std::string>& arguments,
                      Build build, std::chrono::seconds timeout, const std::string& port,
                      const std::vector<std::string>& environment) {
  const fs::path& dll = build == Build::Current ? kDll : kLegacyDll;
  std::vector<std::string> argv = {kWine64.string(), kHostExe.string(), windows_path(dll), port};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  // A network port is the server's to reach; a COM port needs its link.
  const Finished done = port.starts_with("rfc2217://")
                            ? run_program(argv, timeout, environment)
                            : run_on_port(argv, terminal.port(), port, timeout, environment);

  HostRun result;
  result.exit_status = done.exit_status;
  result.output = done.out + done.err;
  std::istringstream lines(done.out);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    const std::string key = line.substr(0, equals);
    const std::string value = line.substr(equals + 1);
    // Each case starts with its name; anything before the first (a DLL that
    // did not load) counts as the first case's.
    if (key == "case" || result.cases.empty()) result.cases.push_back({});
    if (key == "case") {
      result.cases.back().name = value;
    } else {
      result.cases.back().values[key] = value;
    }
  }
  return result;
}

}  // namespace tarvex::testing
