// The values the gateway's threads share: exchange flags, link-test outcome, counters and the
// last network buffer. Integers are atomics; texts sit behind a lock.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <stop_token>
#include <string>

#include "frames/bytes.h"

namespace gateway {

// An exchange flag, 0 or 1, on which a thread can wait until it clears.
class ExchangeFlag {
 public:
  int Get() const { return value_.load(); }
  void Set(int value);
  // Returns true once the flag is 0, false if `stop` is requested first.
  bool WaitUntilClear(std::stop_token stop) const;

 private:
  std::atomic<int> value_{0};
  mutable std::mutex mutex_;
  mutable std::condition_variable_any cleared_;
};

// A text shared between threads; readers always get a whole value.
template <typename Text>
class SharedText {
 public:
  Text Get() const {
    std::lock_guard lock(mutex_);
    return text_;
  }
  void Set(Text text) {
    std::lock_guard lock(mutex_);
    text_ = std::move(text);
  }

 private:
  mutable std::mutex mutex_;
  Text text_;
};

struct GatewayState {
  ExchangeFlag SupervisionExchangeActive;     // a fault or restore exchange is under way
  std::atomic<int> NetworkExchangeActive{0};  // a network relay is under way
  std::atomic<int> ReserveExchangeActive{0};  // a reserve relay is under way
  std::atomic<int> LinkTestPassed{0};         // 0, or -1 after a link test that got any reply
  std::atomic<int> ConnectionCount{0};        // live network connections, refreshed each second
  std::atomic<int> SecondCounter{0};          // 0 to 59: paces the per-minute counting
  SharedText<std::string> LastNetworkMessage;
  SharedText<Bytes> LinkTestReply;
};

}  // namespace gateway
