#include "console-sim/reply_plan.h"

#include <array>
#include <utility>

namespace gateway::console_sim {
namespace {

constexpr std::array<std::pair<ReplyKind, std::string_view>, 6> kNames = {{
    {ReplyKind::kAck, "ack"},
    {ReplyKind::kNone, "none"},
    {ReplyKind::kShort, "short"},
    {ReplyKind::kLong, "long"},
    {ReplyKind::kGarbage, "garbage"},
    {ReplyKind::kLate, "late"},
}};

}  // namespace

std::string_view ReplyName(ReplyKind kind) {
  for (const auto& [k, name] : kNames) {
    if (k == kind) return name;
  }
  return "?";
}

std::optional<ReplyKind> ParseReplyKind(std::string_view name) {
  for (const auto& [kind, n] : kNames) {
    if (n == name) return kind;
  }
  return std::nullopt;
}

ReplyPlan::ReplyPlan(ReplySettings settings)
    : settings_(std::move(settings)), random_(settings_.seed) {
  if (settings_.kinds.empty()) settings_.kinds = {ReplyKind::kAck};
}

Reply ReplyPlan::Next() {
  // Plain modulo on the engine's output rather than a distribution: the engine's sequence is
  // fixed by the standard, a distribution's is not, and tests rely on a seed replaying.
  const std::size_t count = settings_.kinds.size();
  const std::size_t index = settings_.random ? random_() % count : turn_++ % count;
  Reply reply;
  reply.kind = settings_.kinds[index];
  reply.delay = settings_.delay;
  const Bytes& ack = settings_.ack;
  switch (reply.kind) {
    case ReplyKind::kAck:
      reply.bytes = ack;
      break;
    case ReplyKind::kNone:
      break;
    case ReplyKind::kShort:
      reply.bytes.assign(ack.begin(), ack.begin() + 3);
      break;
    case ReplyKind::kLong:
      reply.bytes = ack;
      reply.bytes.push_back(ack.back());
      break;
    case ReplyKind::kGarbage: {
      std::size_t length = 1 + random_() % 11;  // 1 to 11, then 4 moved to 12
      if (length == 4) length = 12;
      for (std::size_t i = 0; i < length; ++i) {
        reply.bytes.push_back(static_cast<std::uint8_t>(random_()));
      }
      break;
    }
    case ReplyKind::kLate:
      reply.bytes = ack;
      reply.delay = settings_.late_delay;
      break;
  }
  return reply;
}

}  // namespace gateway::console_sim
