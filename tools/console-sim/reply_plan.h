// How the simulated console answers each frame: an acknowledgement, nothing, too few or too
// many bytes, garbage, or an acknowledgement too late to count, in turn or at random.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <random>
#include <string_view>
#include <vector>

#include "frames/bytes.h"

namespace gateway::console_sim {

enum class ReplyKind {
  kAck,      // the 4 acknowledgement bytes
  kNone,     // nothing
  kShort,    // the first 3 of them
  kLong,     // them and one byte more
  kGarbage,  // 1 to 12 random bytes, never 4
  kLate,     // the acknowledgement, after the late delay instead of the usual one
};

// "ack", "none", "short", "long", "garbage", "late".
std::string_view ReplyName(ReplyKind kind);
std::optional<ReplyKind> ParseReplyKind(std::string_view name);

struct Reply {
  ReplyKind kind = ReplyKind::kAck;
  Bytes bytes;
  std::chrono::milliseconds delay{0};
};

struct ReplySettings {
  std::vector<ReplyKind> kinds = {ReplyKind::kAck};  // taken in turn, or at random
  bool random = false;
  std::uint64_t seed = 1;
  Bytes ack = {0x06, 0x06, 0x06, 0x06};
  std::chrono::milliseconds delay{0};
  std::chrono::milliseconds late_delay{150};
};

class ReplyPlan {
 public:
  explicit ReplyPlan(ReplySettings settings);
  // The reply to the next frame. The same settings and seed give the same replies.
  Reply Next();

 private:
  ReplySettings settings_;
  std::mt19937_64 random_;
  std::size_t turn_ = 0;
};

}  // namespace gateway::console_sim
