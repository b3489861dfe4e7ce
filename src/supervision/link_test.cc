#include "supervision/link_test.h"

#include <exception>
#include <memory>

#include "frames/console_frame.h"
#include "frames/conversion_error.h"

namespace gateway {

namespace {

constexpr int kLinkTestReplyMax = 50;

}  // namespace

HeartbeatInterval DecideHeartbeatInterval(std::string_view period_text, int current_interval_ms) {
  int period = 0;
  try {
    period = ReadDecimal(period_text);
  } catch (const ConversionError&) {
    return {};
  }
  if (period == 0) return {HeartbeatInterval::Action::kStop, 0};
  if (period == current_interval_ms) return {};
  return {HeartbeatInterval::Action::kRestart, period};
}

std::string LinkTestPeriodAtStart(std::string_view stored_period) {
  if (ReadDecimal(stored_period) < kShortestStartupPeriod) return kStartupPeriodReplacement;
  return std::string(stored_period);
}

LinkTest::LinkTest(GatewayState& state, ConsoleExchange& console)
    : state_(state), console_(console) {}

void LinkTest::Run(bool connected, bool enabled) {
  if (!connected) return;
  // Taken even while link tests are off: this is what reopens a port found closed.
  if (!console_.EnsureOpen()) return;
  if (!enabled) return;
  if (state_.SupervisionExchangeActive.Get() != 0 || state_.NetworkExchangeActive.load() != 0 ||
      state_.ReserveExchangeActive.load() != 0) {
    return;
  }
  std::unique_ptr<ConsoleSession> session = console_.BeginExchange();
  if (!session) return;
  try {
    WriteFrame(*session, kLinkTestFrame);
    const Bytes reply = session->Read(kLinkTestReplyMax);
    state_.LinkTestReply.Set(reply);
    state_.LinkTestPassed = 0;
    if (reply.empty()) return;
    if (!IsAcknowledgement(reply)) WriteFrame(*session, kSecondLinkTestFrame);
    state_.LinkTestPassed = -1;
  } catch (const std::exception&) {
    // The link test drops its own console failures: the gateway stays connected.
  }
}

}  // namespace gateway
