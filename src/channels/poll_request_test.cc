#include "channels/poll_request.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace gateway {
namespace {

TEST(PollRequestTest, MatchesOnlyAnArmedRequestForTheCurrentTarget) {
  struct Case {
    const char* name;
    void (*prepare)(PollRequest&);
    const char* account;
    bool consumed;
  };
  const Case kCases[] = {
      {"never armed", [](PollRequest& r) { r.SetTarget("0427"); }, "0427", false},
      {"armed, same account", [](PollRequest& r) { r.Arm("0427"); }, "0427", true},
      {"armed, other account", [](PollRequest& r) { r.Arm("0427"); }, "1234", false},
      {"armed, shorter account", [](PollRequest& r) { r.Arm("0427"); }, "042", false},
      {"edit changed while armed",
       [](PollRequest& r) {
         r.Arm("0427");
         r.SetTarget("1234");
       },
       "1234", true},
      {"old target after the edit changed",
       [](PollRequest& r) {
         r.Arm("0427");
         r.SetTarget("1234");
       },
       "0427", false},
      {"disarmed",
       [](PollRequest& r) {
         r.Arm("0427");
         r.Disarm();
       },
       "0427", false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    PollRequest request;
    int callbacks = 0;
    request.SetOnConsumed([&] { ++callbacks; });
    c.prepare(request);
    const bool was_armed = request.Armed();
    EXPECT_EQ(request.ConsumeIfMatches(c.account), c.consumed);
    EXPECT_EQ(callbacks, c.consumed ? 1 : 0);
    EXPECT_EQ(request.Armed(), was_armed && !c.consumed);
  }
}

TEST(PollRequestTest, IsConsumedOnceAndCanBeArmedAgain) {
  PollRequest request;
  int callbacks = 0;
  request.SetOnConsumed([&] { ++callbacks; });
  request.Arm("0427");
  EXPECT_TRUE(request.ConsumeIfMatches("0427"));
  EXPECT_FALSE(request.ConsumeIfMatches("0427"));
  EXPECT_EQ(callbacks, 1);
  EXPECT_EQ(request.Target(), "0427");  // the edit is emptied by the window, not here

  request.Arm("0427");
  EXPECT_TRUE(request.ConsumeIfMatches("0427"));
  EXPECT_EQ(callbacks, 2);
}

TEST(PollRequestTest, CallbackRunsOnTheConsumingThreadOutsideTheLock) {
  PollRequest request;
  std::thread::id callback_thread;
  bool armed_inside = true;
  request.SetOnConsumed([&] {
    callback_thread = std::this_thread::get_id();
    armed_inside = request.Armed();  // would deadlock if the lock were still held
    request.SetTarget("");
  });
  request.Arm("0427");
  std::thread::id consumer;
  std::thread([&] {
    consumer = std::this_thread::get_id();
    EXPECT_TRUE(request.ConsumeIfMatches("0427"));
  }).join();
  EXPECT_EQ(callback_thread, consumer);
  EXPECT_FALSE(armed_inside);
  EXPECT_EQ(request.Target(), "");
}

TEST(PollRequestTest, OfManyConnectionsRacingExactlyOneConsumes) {
  constexpr int kThreads = 8;
  constexpr int kRounds = 200;
  PollRequest request;
  std::atomic<int> callbacks{0};
  request.SetOnConsumed([&] { ++callbacks; });
  for (int round = 0; round < kRounds; ++round) {
    request.Arm("0427");
    std::atomic<int> consumed{0};
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&] {
        while (!go) std::this_thread::yield();
        if (request.ConsumeIfMatches("0427")) ++consumed;
      });
    }
    go = true;
    for (std::thread& thread : threads) thread.join();
    ASSERT_EQ(consumed, 1) << "round " << round;
  }
  EXPECT_EQ(callbacks, kRounds);
}

}  // namespace
}  // namespace gateway
