// The simulator's two ways of sending: lines one after another on one connection, and a load
// of many connections sending at a given rate.
#pragma once

#include <netinet/in.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "communicator-sim/reply_outcome.h"
#include "communicator-sim/run_statistics.h"

namespace gateway {

// One line sent and what came of it.
struct Exchange {
  std::size_t index = 0;  // 1 for the first line of the run
  std::string line;
  Outcome outcome = Outcome::kError;
  double latency_ms = 0;  // from the send until the outcome was known
  std::string reply;      // the bytes received
  std::string detail;     // why, for the error outcome
};

struct RunResult {
  RunStatistics statistics;
  double elapsed_seconds = 0;
};

struct SequencePlan {
  std::chrono::milliseconds timeout{1000};
  std::chrono::milliseconds interval{0};  // pause between an outcome and the next line
};

// Sends the lines in order on one connection, each once the previous one's outcome is known;
// a connection the gateway has closed is opened again for the next line. `report` gets each
// exchange as it ends.
RunResult RunSequence(const sockaddr_in& gateway, const std::vector<std::string>& lines,
                      const SequencePlan& plan, const std::function<void(const Exchange&)>& report);

struct LoadPlan {
  int connections = 10;
  double rate = 100;  // lines per second over all connections
  std::chrono::milliseconds duration{10000};
  std::chrono::milliseconds timeout{1000};
};

// Opens `connections` connections, one a millisecond, then sends the lines, in turn and over
// again, at `rate` for `duration`: each connection sends at its own share of the rate, and
// never before the outcome of its previous line is known (a slow gateway lowers the rate
// rather than piling lines up). A connection the gateway closes is opened again for its next
// line. Waits for the outcomes of the last lines before it returns; the elapsed time counts
// from the first send.
RunResult RunLoad(const sockaddr_in& gateway, const std::vector<std::string>& lines,
                  const LoadPlan& plan);

}  // namespace gateway
