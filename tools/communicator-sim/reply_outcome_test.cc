#include "communicator-sim/reply_outcome.h"

#include <gtest/gtest.h>

#include <string>

namespace gateway {
namespace {

TEST(JudgeReply, NamesEachReplyAndWaitsForAnIncompleteOne) {
  struct Case {
    std::string received;
    bool peer_closed;
    bool timed_out;
    std::optional<Outcome> expected;
  };
  const std::string poll("\x07\x00", 2);
  const Case cases[] = {
      {"\x06", false, false, Outcome::kAck},
      {"\x06", true, false, Outcome::kAck},  // acknowledged, then closed: still an ack
      {poll, false, false, Outcome::kPoll},
      {"\x07", false, false, std::nullopt},  // the poll reply's second byte may follow
      {"\x07", false, true, Outcome::kOther},
      {"\x07", true, false, Outcome::kOther},
      {"", false, false, std::nullopt},
      {"", false, true, Outcome::kSilent},
      {"", true, false, Outcome::kClosed},
      {"\x06\x06", false, false, Outcome::kOther},
      {poll + "\x06", false, false, Outcome::kOther},
      {"\x15", false, false, Outcome::kOther},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.received) + (c.peer_closed ? " closed" : "") +
                 (c.timed_out ? " timed out" : ""));
    EXPECT_EQ(c.expected, JudgeReply(c.received, c.peer_closed, c.timed_out));
  }
}

TEST(OutcomeName, GivesTheWordsOfTheReports) {
  std::string names;
  for (const Outcome outcome : kAllOutcomes) names += std::string(OutcomeName(outcome)) + " ";
  EXPECT_EQ("ack poll silent closed other error ", names);
}

}  // namespace
}  // namespace gateway
