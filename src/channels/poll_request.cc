#include "channels/poll_request.h"

#include <utility>

namespace gateway {

void PollRequest::Arm(std::string target) {
  std::lock_guard lock(mutex_);
  target_ = std::move(target);
  armed_ = true;
}

void PollRequest::Disarm() {
  std::lock_guard lock(mutex_);
  armed_ = false;
}

void PollRequest::SetTarget(std::string text) {
  std::lock_guard lock(mutex_);
  target_ = std::move(text);
}

bool PollRequest::Armed() const {
  std::lock_guard lock(mutex_);
  return armed_;
}

std::string PollRequest::Target() const {
  std::lock_guard lock(mutex_);
  return target_;
}

void PollRequest::SetOnConsumed(std::function<void()> on_consumed) {
  std::lock_guard lock(mutex_);
  on_consumed_ = std::move(on_consumed);
}

bool PollRequest::ConsumeIfMatches(std::string_view account) {
  std::function<void()> on_consumed;
  {
    std::lock_guard lock(mutex_);
    if (!armed_ || account != target_) return false;
    armed_ = false;
    on_consumed = on_consumed_;
  }
  if (on_consumed) on_consumed();
  return true;
}

}  // namespace gateway
