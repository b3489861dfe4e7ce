#include "channels/reserve_relay.h"

#include <atomic>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>

#include "channels/port_error.h"
#include "frames/conversion_error.h"
#include "frames/receiver_message.h"
#include "supervision/console_exchange.h"

namespace gateway {
namespace {

// Taken as the console's reply to a message that carries no event while link tests pass.
constexpr char kPassedLinkTestReply[] = "1234";

// Holds ReserveExchangeActive at 1 for the life of the guard, back to 0 however the event ends.
class ExchangeActive {
 public:
  explicit ExchangeActive(std::atomic<int>& flag) : flag_(flag) { flag_ = 1; }
  ~ExchangeActive() { flag_ = 0; }
  ExchangeActive(const ExchangeActive&) = delete;
  ExchangeActive& operator=(const ExchangeActive&) = delete;

 private:
  std::atomic<int>& flag_;
};

}  // namespace

ReserveRelay::ReserveRelay(SerialPort& reserve_port, ConsoleLink& console, CounterReset& heard,
                           GatewayState& state, ReserveRelayHooks hooks)
    : reserve_port_(reserve_port),
      console_(console),
      heard_(heard),
      state_(state),
      hooks_(std::move(hooks)) {
  if (!hooks_.process_events || !hooks_.console_write_failure || !hooks_.log_received) {
    throw std::invalid_argument("ReserveRelay needs every hook");
  }
}

void ReserveRelay::OnReceive() {
  hooks_.process_events();
  // Both checks come before the read: a message read now could not be relayed, and would be
  // lost, while unread bytes raise the event again.
  if (state_.SupervisionExchangeActive.Get() != 0) return;
  if (console_.HeldByCurrentThread()) return;

  // The watcher does not raise this port's next event before this one returns, so the rest of
  // a message that is still arriving waits in the input buffer for the read.
  std::this_thread::sleep_for(kReadDelay);
  Bytes received;
  try {
    received = reserve_port_.Read(kReadMax);
  } catch (const PortError&) {
    return;
  }
  hooks_.log_received(received);

  const std::string message = TextOf(received);
  if (!IsAcceptableMessage(message)) return;

  ExchangeActive active(state_.ReserveExchangeActive);
  ConsoleFrame frame;
  try {
    frame = TranslateEvent(message, heard_);
  } catch (const ConversionError&) {
    return;
  }
  Bytes reply;
  if (CarriesEvent(frame)) {
    reply = Relay(frame);
  } else if (state_.LinkTestPassed.load() != 0) {
    reply = BytesOf(kPassedLinkTestReply);
  }
  if (!IsAcknowledgement(reply)) return;
  try {
    reserve_port_.Write({&kAcknowledgement, 1});
  } catch (const PortError&) {
    // The modem gets nothing; its next message raises an event as usual.
  }
}

Bytes ReserveRelay::Relay(const Bytes& frame) {
  // Nothing has let events run since the probe in OnReceive, so the main thread cannot hold
  // the link here; should it all the same, the message goes unacknowledged.
  std::unique_ptr<ConsoleSession> session = console_.BeginExchange();
  if (!session) return {};
  try {
    WriteFrame(*session, frame);
  } catch (const PortError&) {
    // The failure handling closes the port and stops the server, whose connection threads may
    // be waiting for the link: it must not run while this exchange holds it. The reply read
    // would fail on the closed port, so there is nothing to wait for.
    session.reset();
    hooks_.console_write_failure();
    return {};
  }
  hooks_.process_events();
  try {
    return session->Read(kReplyMax);
  } catch (const PortError&) {
    return {};
  }
}

}  // namespace gateway
