// Programs that the end-to-end tests start and stop: the gateway, the X server with its window
// manager, and short commands such as xdotool. A child dies with the thread that started it, so a
// test that crashes leaves nothing running behind it.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace gateway::e2e {

struct ChildOptions {
  std::vector<std::string> argv;  // argv[0] is the program's path
  // "NAME=value" entries added to the test's own environment (replacing a name it has).
  std::vector<std::string> environment;
  std::filesystem::path working_folder;  // empty: the test's own
  std::filesystem::path output;          // standard output and error, appended; empty: discarded
};

class ChildProcess {
 public:
  // Starts the program; throws std::runtime_error when it cannot be started. The child is sent
  // SIGKILL when the calling thread ends, so start it from a thread that outlives it.
  explicit ChildProcess(const ChildOptions& launch);
  ~ChildProcess();  // Stop()
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // The child's process id, for /proc and for signals.
  pid_t pid() const { return pid_; }
  // Whether the child has not ended yet (an ended child is reaped here).
  bool Running();
  // The wait status once the child has ended.
  std::optional<int> WaitStatus() const { return status_; }
  // Waits up to `limit` for the child to end by itself; returns whether it did.
  bool WaitExit(std::chrono::milliseconds limit);
  // SIGTERM, then SIGKILL after `grace`; returns the wait status. Does nothing more once ended.
  int Stop(std::chrono::milliseconds grace = std::chrono::milliseconds(5000));

 private:
  pid_t pid_ = -1;
  std::optional<int> status_;
};

struct CommandResult {
  bool finished = false;  // false: killed at the time limit
  int exit_code = -1;     // the exit code of a command that finished normally, else -1
  std::string output;     // standard output and error
};

// Runs a command to its end, killing it after `limit`.
CommandResult RunCommand(const std::vector<std::string>& argv, std::chrono::milliseconds limit,
                         const std::vector<std::string>& environment = {});

// "exited with 3", "killed by signal 9".
std::string DescribeWaitStatus(int status);

}  // namespace gateway::e2e
