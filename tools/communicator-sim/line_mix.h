// Where the simulator's lines come from: a file, or a mix of accounts and events taken in turn
// or at random.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "communicator-sim/receiver_line.h"

namespace gateway {

struct LineMix {
  std::vector<std::string> accounts;  // 4 characters each
  std::vector<MixEvent> events;
  ReceiverLineFields base;  // receiver, line digit and terminator of every line
};

// Every account with every event, each account's events together, in the order given; with
// `count` above 0 that sequence repeats or is cut to `count` lines. Throws
// std::invalid_argument when accounts or events are missing.
std::vector<std::string> CombinedLines(const LineMix& mix, std::size_t count);

// `count` lines, each with an account and an event drawn from the mix. Without accounts, an
// account from 0001 to 9999 is drawn; without events, one of kRandomCodes in a zone from 001
// to 032. The same seed gives the same lines on every machine.
std::vector<std::string> RandomLines(const LineMix& mix, std::size_t count, std::uint64_t seed);

// The codes a random mix without events draws from: alarms, restores, openings, closings,
// and a periodic test that the gateway does not translate.
inline constexpr const char* kRandomCodes[] = {"E130", "R130", "E110", "R110", "E401",
                                               "R401", "E301", "R301", "E602"};

// The lines of a text file, one per line, without the line ends and skipping empty lines;
// escapes decoded (see DecodeEscapes). Throws std::runtime_error when the file cannot be read.
std::vector<std::string> ReadLineFile(const std::string& path);

}  // namespace gateway
