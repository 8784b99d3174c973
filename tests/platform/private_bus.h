// A private message bus for one test: a dbus-daemon of its own, listening in
// a scratch folder, started by the constructor and stopped by the destructor.
// Tests never touch the machine's own buses. Services placed in
// ServiceFolder() can be started on demand by the bus.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>

extern char** environ;

namespace zv::testutil {

class PrivateBus {
 public:
  // `limits` goes into the bus's configuration as it stands (<limit> elements).
  explicit PrivateBus(const std::string& limits = "") {
    std::random_device random;
    const auto base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100 && FFolder.empty(); ++attempt) {
      const auto candidate = base / ("zvcc-bus-" + std::to_string(random()));
      if (std::filesystem::create_directory(candidate)) FFolder = candidate;
    }
    if (FFolder.empty()) throw std::runtime_error("no scratch folder for the bus");
    std::filesystem::create_directory(ServiceFolder());
    const std::string config = (FFolder / "bus.conf").string();
    std::ofstream(config) << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus "
                             "Configuration 1.0//EN\"\n"
                             " \"http://www.freedesktop.org/standards/dbus/1.0/"
                             "busconfig.dtd\">\n"
                             "<busconfig>\n  <type>session</type>\n"
                             "  <listen>unix:path="
                          << (FFolder / "socket").string() << "</listen>\n  <servicedir>"
                          << ServiceFolder()
                          << "</servicedir>\n"
                             "  <policy context=\"default\">\n"
                             "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
                             "    <allow eavesdrop=\"true\"/>\n    <allow own=\"*\"/>\n"
                             "  </policy>\n"
                          << limits << "</busconfig>\n";

    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    const std::string configArg = "--config-file=" + config;
    char* argv[] = {const_cast<char*>("dbus-daemon"), const_cast<char*>(configArg.c_str()),
                    const_cast<char*>("--nofork"), const_cast<char*>("--print-address=1"), nullptr};
    const int spawned = posix_spawnp(&FPid, "dbus-daemon", &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (spawned != 0) {
      close(out[0]);
      throw std::runtime_error("cannot start dbus-daemon (is it installed?)");
    }
    // The daemon prints its address once it listens.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    char c = 0;
    while (std::chrono::steady_clock::now() < deadline) {
      pollfd p{out[0], POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) continue;
      if (read(out[0], &c, 1) != 1 || c == '\n') break;
      FAddress.push_back(c);
    }
    close(out[0]);
    if (c != '\n' || FAddress.empty()) {
      Stop();
      throw std::runtime_error("dbus-daemon did not start");
    }
  }

  ~PrivateBus() {
    Stop();
    std::error_code ec;
    std::filesystem::remove_all(FFolder, ec);
  }
  PrivateBus(const PrivateBus&) = delete;
  PrivateBus& operator=(const PrivateBus&) = delete;

  const std::string& Address() const { return FAddress; }
  // Ends the daemon at once, without a word to its clients, as a bus that
  // crashes would.
  void Kill() {
    if (FPid <= 0) return;
    kill(FPid, SIGKILL);
    int status = 0;
    waitpid(FPid, &status, 0);
    FPid = -1;
  }
  std::string ServiceFolder() const { return (FFolder / "services").string(); }
  // Registers a service for `name` whose program never takes the name: it
  // leaves a file StartedMark(name) and lives until the bus's folder goes.
  void AddHangingService(const std::string& name) const {
    const std::string script = ServiceFolder() + "/" + name + ".sh";
    std::ofstream(script) << "touch \"$0.started\"\nwhile [ -e \"$0\" ]; do sleep 0.1; done\n";
    std::ofstream(ServiceFolder() + "/" + name + ".service")
        << "[D-BUS Service]\nName=" << name << "\nExec=/bin/sh " << script << "\n";
  }
  std::string StartedMark(const std::string& name) const {
    return ServiceFolder() + "/" + name + ".sh.started";
  }

 private:
  void Stop() {
    if (FPid <= 0) return;
    kill(FPid, SIGTERM);
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (waitpid(FPid, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() >= deadline) {
        kill(FPid, SIGKILL);
        waitpid(FPid, &status, 0);
        break;
      }
      usleep(10000);  // polling the child's end, bounded by the deadline
    }
    FPid = -1;
  }

  std::filesystem::path FFolder;
  std::string FAddress;
  pid_t FPid = -1;
};

}  // namespace zv::testutil
