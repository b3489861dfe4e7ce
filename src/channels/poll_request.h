// The operator's poll request: one object whose next acknowledged network message is answered
// with the poll reply instead of the acknowledgement. Armed and changed on the main thread,
// consumed by connection threads.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <string_view>

namespace gateway {

class PollRequest {
 public:
  // Arms the request for `target`, the text of the poll edit.
  void Arm(std::string target);
  // Leaves the request unarmed; a request already consumed stays so.
  void Disarm();
  // Follows the poll edit's text: an armed request compares with the edit as it is now.
  void SetTarget(std::string text);
  bool Armed() const;
  std::string Target() const;

  // Run once per consumption, on the consuming thread, after the lock is released (so it may
  // call back into this object).
  void SetOnConsumed(std::function<void()> on_consumed);

  // In one step: when armed and `account` equals the target, disarms and returns true (then
  // runs the consumption callback); otherwise changes nothing and returns false. Of several
  // threads racing for one armed request exactly one gets true.
  bool ConsumeIfMatches(std::string_view account);

 private:
  mutable std::mutex mutex_;
  bool armed_ = false;
  std::string target_;
  std::function<void()> on_consumed_;
};

}  // namespace gateway
