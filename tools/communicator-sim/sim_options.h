// The simulator's command line: what to send, where, and how to report it.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "communicator-sim/line_mix.h"
#include "communicator-sim/sim_runner.h"

namespace gateway {

class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct SimOptions {
  std::string host = "127.0.0.1";
  int port = 5551;
  std::chrono::milliseconds timeout{1000};
  std::string file;                // lines from this file first
  std::vector<std::string> lines;  // then these, given as arguments, escapes decoded
  LineMix mix;                     // then these generated ones
  std::size_t count = 0;           // generated lines; 0: every combination once, 10 at random
  bool random = false;
  std::uint64_t seed = 1;
  std::chrono::milliseconds interval{0};
  bool load = false;
  LoadPlan load_plan;  // its timeout is `timeout`
  bool machine = false;
  bool help = false;
};

// Parses the arguments that follow the program name. Throws UsageError naming the option.
SimOptions ParseOptions(const std::vector<std::string>& arguments);

// The text --help prints.
std::string HelpText();

// The lines to send in order: the file's, the command line's, then the generated ones. Throws
// UsageError when there are none, std::runtime_error when the file cannot be read.
std::vector<std::string> CollectLines(const SimOptions& options);

}  // namespace gateway
