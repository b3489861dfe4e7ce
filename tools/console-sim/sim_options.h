// The console simulator's command line.
#pragma once

#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

#include "console-sim/frame_record.h"
#include "console-sim/reply_plan.h"

namespace gateway::console_sim {

class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct SimOptions {
  std::string link = "/dev/ttyV0";  // empty: no link, the pseudo-terminal's own name only
  ReplySettings replies;
  std::chrono::milliseconds idle{50};
  OutputFormat format = OutputFormat::kText;
  int frames = 0;   // end after answering this many frames; 0: no limit
  int seconds = 0;  // end after this long; 0: no limit
  bool help = false;
  bool list_ports = false;  // print the gateway's port list and end
};

// Reads the arguments after the program name, each option as "--name=value" or
// "--name value"; throws UsageError naming the bad one.
SimOptions ParseOptions(const std::vector<std::string>& arguments);

// The text --help prints.
std::string HelpText();

}  // namespace gateway::console_sim
