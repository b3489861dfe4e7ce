#include "supervision/gateway_state.h"

#include <gtest/gtest.h>

#include <thread>

namespace gateway {
namespace {

TEST(ExchangeFlag, WaiterResumesWhenTheFlagClears) {
  ExchangeFlag flag;
  flag.Set(1);
  std::atomic<bool> resumed = false;
  std::jthread waiter([&](std::stop_token stop) {
    EXPECT_TRUE(flag.WaitUntilClear(stop));
    resumed = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(resumed);
  flag.Set(0);
  waiter.join();
  EXPECT_TRUE(resumed);
}

TEST(ExchangeFlag, WaiterGivesUpWhenStopped) {
  ExchangeFlag flag;
  flag.Set(1);
  std::jthread waiter([&](std::stop_token stop) { EXPECT_FALSE(flag.WaitUntilClear(stop)); });
  waiter.request_stop();
  waiter.join();
  EXPECT_EQ(1, flag.Get());
}

}  // namespace
}  // namespace gateway
