// The simulator's output: one text per exchange and the summary of a run, for people or, one
// key=value record per line, for scripts.
#pragma once

#include <string>

#include "communicator-sim/sim_runner.h"

namespace gateway {

// One line of output for an exchange, without the line end.
std::string FormatExchange(const Exchange& exchange, bool machine);

// The summary of a run: one record for machines, a few lines for people; no final line end.
std::string FormatSummary(const RunResult& result, bool machine);

}  // namespace gateway
