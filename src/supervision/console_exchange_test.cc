#include "supervision/console_exchange.h"

#include <gtest/gtest.h>

#include <vector>

#include "supervision/fake_console_exchange.h"

namespace gateway {
namespace {

TEST(AwaitReply, EndsAtTheFirstReadThatYieldsBytes) {
  FakeConsoleExchange console;
  auto session = console.BeginExchange();
  int pumps = 0;
  // The reply shows up only after the third pump: each attempt pumps before it reads.
  const Bytes reply = AwaitReply(*session, [&] {
    if (++pumps == 3) console.QueueReply({0x01, 0x02});
  });
  EXPECT_EQ((Bytes{0x01, 0x02}), reply);
  EXPECT_EQ(3, pumps);
  EXPECT_EQ((std::vector<int>{100, 100, 100}), console.ReadMaxima());
}

TEST(AwaitReply, GivesUpAfterFiftyEmptyAttempts) {
  FakeConsoleExchange console;
  auto session = console.BeginExchange();
  int pumps = 0;
  EXPECT_TRUE(AwaitReply(*session, [&] { ++pumps; }).empty());
  EXPECT_EQ(50, pumps);
  EXPECT_EQ(std::vector<int>(50, 100), console.ReadMaxima());
}

TEST(AwaitReply, FailedReadEndsTheWaitWithNoReply) {
  FakeConsoleExchange console;
  console.QueueReply({});
  console.QueueReadFailure();
  console.QueueReply({0x01, 0x02, 0x03, 0x04});
  auto session = console.BeginExchange();
  EXPECT_TRUE(AwaitReply(*session, [] {}).empty());
  EXPECT_EQ(2u, console.ReadMaxima().size());
}

TEST(AwaitReply, ReadsNoMoreThanItsMaximumAtOnce) {
  FakeConsoleExchange console;
  console.QueueReply(Bytes(120, 0x55));
  auto session = console.BeginExchange();
  EXPECT_EQ(100u, AwaitReply(*session, [] {}).size());
  EXPECT_EQ(20u, AwaitReply(
                     *session, [] {}, 1, 50)
                     .size());
}

}  // namespace
}  // namespace gateway
