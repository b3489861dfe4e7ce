#include "console-sim/reply_plan.h"

#include <gtest/gtest.h>

#include <set>

namespace gateway::console_sim {
namespace {

using std::chrono::milliseconds;

TEST(ReplyPlanTest, TakesTheRepliesInTurnWithTheirBytesAndDelays) {
  ReplySettings settings;
  settings.kinds = {ReplyKind::kAck, ReplyKind::kNone, ReplyKind::kShort, ReplyKind::kLong,
                    ReplyKind::kLate};
  settings.ack = {0xA1, 0xA2, 0xA3, 0xA4};
  settings.delay = milliseconds(7);
  settings.late_delay = milliseconds(300);
  ReplyPlan plan(settings);
  struct Expected {
    ReplyKind kind;
    Bytes bytes;
    milliseconds delay;
  };
  const Expected expected[] = {
      {ReplyKind::kAck, {0xA1, 0xA2, 0xA3, 0xA4}, milliseconds(7)},
      {ReplyKind::kNone, {}, milliseconds(7)},
      {ReplyKind::kShort, {0xA1, 0xA2, 0xA3}, milliseconds(7)},
      {ReplyKind::kLong, {0xA1, 0xA2, 0xA3, 0xA4, 0xA4}, milliseconds(7)},
      {ReplyKind::kLate, {0xA1, 0xA2, 0xA3, 0xA4}, milliseconds(300)},
      {ReplyKind::kAck, {0xA1, 0xA2, 0xA3, 0xA4}, milliseconds(7)},  // round again
  };
  for (const Expected& e : expected) {
    const Reply reply = plan.Next();
    EXPECT_EQ(reply.kind, e.kind);
    EXPECT_EQ(reply.bytes, e.bytes);
    EXPECT_EQ(reply.delay, e.delay);
  }
}

TEST(ReplyPlanTest, RandomRepliesReplayForASeedAndGarbageNeverAcknowledges) {
  ReplySettings settings;
  settings.kinds = {ReplyKind::kAck, ReplyKind::kNone, ReplyKind::kGarbage};
  settings.random = true;
  settings.seed = 42;
  ReplyPlan first(settings);
  ReplyPlan second(settings);
  settings.seed = 43;
  ReplyPlan other(settings);
  int differences = 0;
  std::set<ReplyKind> kinds_seen;
  for (int i = 0; i < 200; ++i) {
    const Reply a = first.Next();
    const Reply b = second.Next();
    const Reply c = other.Next();
    EXPECT_EQ(a.kind, b.kind);
    EXPECT_EQ(a.bytes, b.bytes);
    differences += a.kind != c.kind;
    kinds_seen.insert(a.kind);
    if (a.kind == ReplyKind::kGarbage) {
      EXPECT_GE(a.bytes.size(), 1u);
      EXPECT_LE(a.bytes.size(), 12u);
      EXPECT_NE(a.bytes.size(), 4u);
    }
  }
  EXPECT_GT(differences, 0);
  EXPECT_EQ(kinds_seen.size(), 3u);
}

TEST(ReplyPlanTest, NamesReadBackAndUnknownNamesAreRefused) {
  for (ReplyKind kind : {ReplyKind::kAck, ReplyKind::kNone, ReplyKind::kShort, ReplyKind::kLong,
                         ReplyKind::kGarbage, ReplyKind::kLate}) {
    EXPECT_EQ(ParseReplyKind(ReplyName(kind)), kind);
  }
  EXPECT_EQ(ParseReplyKind("ACK"), std::nullopt);
  EXPECT_EQ(ParseReplyKind(""), std::nullopt);
}

}  // namespace
}  // namespace gateway::console_sim
