// The link tests behind TimerHeartbeat: a fixed frame to the console whose answer decides
// LinkTestPassed, and the rules that set up the link tests at every start.
#pragma once

#include <string>
#include <string_view>

#include "supervision/console_exchange.h"
#include "supervision/gateway_state.h"

namespace gateway {

// What the link-test tick does with TimerHeartbeat.
struct HeartbeatInterval {
  enum class Action { kKeep, kRestart, kStop };
  Action action = Action::kKeep;
  int interval_ms = 0;  // the interval to restart with, for kRestart
  friend bool operator==(const HeartbeatInterval&, const HeartbeatInterval&) = default;
};

// AdvEditPerHeart's text against the timer's interval: a different decimal number restarts
// the timer with it, 0 stops it, and the same number or a text that is not a number keeps it.
HeartbeatInterval DecideHeartbeatInterval(std::string_view period_text, int current_interval_ms);

inline constexpr char kStartupPeriodReplacement[] = "12345";
inline constexpr int kShortestStartupPeriod = 249;

// The period text AdvEditPerHeart holds after start-up: "12345" in place of a number below 249,
// the text itself otherwise. Throws ConversionError for a text that is not a decimal number.
std::string LinkTestPeriodAtStart(std::string_view stored_period);

// Link tests are switched on at every start, whatever was stored.
inline bool LinkTestsEnabledAtStart(bool /*stored*/) { return true; }

// Runs on the main thread; LinkTestPassed is read by the connection threads.
class LinkTest {
 public:
  LinkTest(GatewayState& state, ConsoleExchange& console);

  // The tick after its interval step: sends the link-test frame when connected, the port is
  // open, link tests are `enabled` and no exchange flag is up. A failure to open the port
  // propagates; write and read failures end the tick quietly.
  void Run(bool connected, bool enabled);

 private:
  GatewayState& state_;
  ConsoleExchange& console_;
};

}  // namespace gateway
