// The simulator's end of the line: a pseudo-terminal whose slave the gateway opens, linked
// into /dev under a chosen name for as long as the simulator runs.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>

namespace gateway::console_sim {

class LineError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class ConsoleLine {
 public:
  // Opens a raw pseudo-terminal; with a non-empty `link`, links it there. A link there that
  // leads to a /dev/pts entry that no longer exists is stale and replaced; anything else there
  // throws LineError and nothing is changed.
  explicit ConsoleLine(const std::filesystem::path& link);
  // Removes the link if it still leads to this line's pseudo-terminal.
  ~ConsoleLine();
  ConsoleLine(const ConsoleLine&) = delete;
  ConsoleLine& operator=(const ConsoleLine&) = delete;

  int master_fd() const { return master_fd_; }
  const std::string& slave_path() const { return slave_path_; }
  const std::filesystem::path& link() const { return link_; }

 private:
  int master_fd_ = -1;
  // Held open so that the gateway closing its side does not hang the line up for us.
  int held_slave_fd_ = -1;
  std::string slave_path_;
  std::filesystem::path link_;
};

}  // namespace gateway::console_sim
