// What came back from the gateway for one line, judged from the bytes received so far.
#pragma once

#include <optional>
#include <string_view>

namespace gateway {

enum class Outcome {
  kAck,     // the single byte 0x06
  kPoll,    // the poll reply 0x07 0x00
  kSilent,  // nothing within the time-out
  kClosed,  // the gateway closed the connection without replying
  kOther,   // any other bytes
  kError,   // the line could not be sent: no connection could be made, or the send failed
};

inline constexpr Outcome kAllOutcomes[] = {Outcome::kAck,    Outcome::kPoll,  Outcome::kSilent,
                                           Outcome::kClosed, Outcome::kOther, Outcome::kError};

// "ack", "poll", "silent", "closed", "other" or "error".
std::string_view OutcomeName(Outcome outcome);

// The outcome of the bytes received since the line was sent, given whether the gateway has
// closed and whether the time-out has passed; nothing while a reply may still be completing.
std::optional<Outcome> JudgeReply(std::string_view received, bool peer_closed, bool timed_out);

}  // namespace gateway
