#include "communicator-sim/reply_outcome.h"

namespace gateway {

namespace {

constexpr std::string_view kAckReply("\x06", 1);
constexpr std::string_view kPollReply("\x07\x00", 2);

}  // namespace

std::string_view OutcomeName(Outcome outcome) {
  switch (outcome) {
    case Outcome::kAck:
      return "ack";
    case Outcome::kPoll:
      return "poll";
    case Outcome::kSilent:
      return "silent";
    case Outcome::kClosed:
      return "closed";
    case Outcome::kOther:
      return "other";
    case Outcome::kError:
      return "error";
  }
  return "other";
}

std::optional<Outcome> JudgeReply(std::string_view received, bool peer_closed, bool timed_out) {
  if (received == kAckReply) return Outcome::kAck;
  if (received == kPollReply) return Outcome::kPoll;
  if (received.empty()) {
    if (peer_closed) return Outcome::kClosed;
    if (timed_out) return Outcome::kSilent;
    return std::nullopt;
  }
  // The poll reply's first byte alone may be followed by its second.
  if (kPollReply.starts_with(received) && !peer_closed && !timed_out) return std::nullopt;
  return Outcome::kOther;
}

}  // namespace gateway
