#include "supervision/gateway_state.h"

namespace gateway {

void ExchangeFlag::Set(int value) {
  {
    std::lock_guard lock(mutex_);
    value_.store(value);
  }
  cleared_.notify_all();
}

bool ExchangeFlag::WaitUntilClear(std::stop_token stop) const {
  std::unique_lock lock(mutex_);
  return cleared_.wait(lock, stop, [this] { return value_.load() == 0; });
}

}  // namespace gateway
