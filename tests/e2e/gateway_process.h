// The real Zorvan_Server run as a station runs it: its own settings folder and working folder, a
// settings file that selects the console port and connects at start, an object list, and a free
// TCP port on 127.0.0.1. What the tests learn about it comes from outside: its listening socket,
// and its descriptors and threads under /proc.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "e2e/child_process.h"
#include "fixtures/eventually.h"
#include "fixtures/temp_dir.h"

namespace gateway::e2e {

struct GatewayOptions {
  std::filesystem::path program;  // the Zorvan_Server executable
  std::string console_port;       // the console's link name in /dev
  std::string console_device;     // the pseudo-terminal behind it ("/dev/pts/5")
  // The reserve (modem) port, used only when named: its link name in /dev and its device.
  std::string reserve_port;
  std::string reserve_device;
  std::string heartbeat_period = "11234";  // AdvEditPerHeart, in milliseconds
  // Lines of Zorvan_Server.txt; the default supervises one object that never falls silent
  // within a test.
  std::vector<std::string> object_list = {"Objects under supervision", ":9000            FFF"};
  std::string platform = "offscreen";            // QT_QPA_PLATFORM
  std::vector<std::string> environment;          // more "NAME=value" for the gateway
  std::chrono::milliseconds start_limit{20000};  // per attempt, until it listens
};

class GatewayProcess {
 public:
  // Starts the gateway and returns once it listens and holds the console port. The port index is
  // worked out from the port list just before the start; when another process changes the list
  // or takes the TCP port meanwhile, it starts again (three attempts). Throws std::runtime_error
  // with the gateway's output when it does not come up.
  explicit GatewayProcess(GatewayOptions options);
  ~GatewayProcess();  // Stop()
  GatewayProcess(const GatewayProcess&) = delete;
  GatewayProcess& operator=(const GatewayProcess&) = delete;

  // The TCP port it listens on, on 127.0.0.1.
  int port() const { return port_; }
  // Its process id.
  pid_t pid() const { return child_->pid(); }

  // Whether its socket listens on 127.0.0.1:port().
  bool Listening() const;
  // Its open descriptors and their targets ("socket:[123]", "/dev/pts/5", "/dev/pts/5 (deleted)").
  std::vector<std::string> Descriptors() const;
  int DescriptorCount() const { return static_cast<int>(Descriptors().size()); }
  // Its threads, as /proc lists them.
  int ThreadCount() const;
  // The descriptors that lead to a pseudo-terminal, whether it still exists or not.
  std::vector<std::string> TerminalDescriptors() const;
  // Whether it has `device` ("/dev/pts/5") open.
  bool Holds(const std::string& device) const;

  // Everything it has written to its standard output and error.
  std::string Output() const;
  // The lines of its output that belong to a sanitizer's report headline.
  std::vector<std::string> SanitizerReports() const;

  // Ends it (SIGTERM, then SIGKILL). Returns "" when it was still running until then, else how it
  // had ended by itself ("killed by signal 6").
  std::string Stop();

 private:
  void WriteFiles(int port_index, int reserve_index) const;
  bool StartOnce(std::string& failure);

  GatewayOptions options_;
  TempDir folder_;  // settings in config/, the working folder work/, the output in output.log
  int port_ = 0;
  std::unique_ptr<ChildProcess> child_;
};

// A TCP port on 127.0.0.1 that nothing listens on at the moment of the call.
int FreeTcpPort();

// Waits until `condition` holds, checking every 20 ms (the gateway is looked at through /proc
// and its sockets); false when `limit` passes first.
inline bool Eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
  return gateway::Eventually(condition, limit, std::chrono::milliseconds(20));
}

}  // namespace gateway::e2e
