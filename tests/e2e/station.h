// The communicators' side of the gateway as the end-to-end tests play it: TCP peers on 127.0.0.1
// that send receiver lines, each in one segment, and note what came back; and a station of many
// such peers that sends a list of lines and keeps the outcome of each.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "communicator-sim/reply_outcome.h"

namespace gateway::e2e {

using Clock = std::chrono::steady_clock;

// One connection to the gateway.
class Peer {
 public:
  // Connects to 127.0.0.1:`port` with TCP_NODELAY; throws std::runtime_error on failure.
  explicit Peer(int port);
  ~Peer();  // Close()
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;

  // One send call, so one segment on loopback; false when not all of it went.
  bool Send(std::string_view bytes);
  // Waits up to `limit` for the gateway to answer or close; returns what came (the first piece
  // and whatever follows it within a few milliseconds). `closed` tells whether it closed.
  std::string AwaitReply(std::chrono::milliseconds limit, bool& closed);
  // Whatever has come so far, without waiting; `closed` as above.
  std::string Pending(bool& closed) { return AwaitReply(std::chrono::milliseconds(0), closed); }
  // Ends the sending direction only (the gateway reads the end of the stream).
  void HalfClose();
  // Drops the connection with a reset instead of an orderly end.
  void Reset();
  // Ends the connection in order (the gateway reads the end of the stream).
  void Close();

 private:
  int fd_ = -1;
};

// The outcome of the bytes that came back for one line once the wait for them is over, judged
// as the communicator simulator judges it.
inline Outcome Judge(const std::string& reply, bool closed) {
  return JudgeReply(reply, closed, /*timed_out=*/true).value_or(Outcome::kOther);
}

struct LineResult {
  std::string line;
  Outcome outcome = Outcome::kError;  // not sent: also each line a stopped run never reached
  std::string reply;
  Clock::time_point sent{};     // when it went out
  Clock::time_point settled{};  // when its outcome was known
  int connection = 0;           // serial number of the connection it went on
};

struct StationPlan {
  int port = 0;
  int connections = 6;
  std::chrono::milliseconds reply_timeout{2500};
  int lines_per_connection = 30;  // a fresh connection after this many lines
  // Asked before each line, from every client thread; once it says no, the lines left stay
  // kError. Empty: always yes.
  std::function<bool()> keep_going;
};

// Sends every line once over `plan.connections` client threads that take the lines in turn. A
// thread sends its next line only once the outcome of its previous one is known, on a fresh
// connection after a line that got no acknowledgement (so that a reply that comes after the
// time-out is not taken for the next line's) and after `lines_per_connection` lines. Bytes found
// waiting before a send are added to the previous line's reply. Results are in line order.
std::vector<LineResult> RunStation(const std::vector<std::string>& lines, const StationPlan& plan);

// A receiver line: "5" receiver "01", `line_digit`, " 18", the 4-character account, the
// qualifier and code ("E130"), group ("01") and zone or user ("005"), and the DC4 terminator.
std::string ReceiverLine(std::string_view account, std::string_view event,
                         std::string_view group = "01", std::string_view zone = "001",
                         char line_digit = '0');

// `count` lines with the accounts 0001, 0002, ... in turn, so that the frame of each (which
// carries its object number) tells which line it came from. Events, zones, groups and line
// digits are drawn from `random`; about one line in ten carries the periodic test E602, which
// the gateway does not translate into an event.
std::vector<std::string> DistinctLines(int count, std::mt19937_64& random);

}  // namespace gateway::e2e
