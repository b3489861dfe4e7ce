#include "channels/network_relay.h"

#include <exception>
#include <memory>
#include <string>
#include <utility>

#include "frames/bytes.h"
#include "frames/receiver_message.h"
#include "supervision/console_exchange.h"

namespace gateway {

namespace {

// Discarded before every buffer: whatever the console sent outside an exchange.
constexpr int kPreliminaryReadMax = 40;
constexpr int kReplyReadMax = 100;
// The reply a frame without an event gets while the link test passes: any 4 bytes acknowledge.
constexpr char kUntranslatedReply[] = "1234";

}  // namespace

NetworkRelay::NetworkRelay(GatewayState& state, CounterReset& heard, ConsoleLink& console,
                           PollRequest& poll, std::function<void()> request_write_failure)
    : state_(state),
      heard_(heard),
      console_(console),
      poll_(poll),
      request_write_failure_(std::move(request_write_failure)) {}

void NetworkRelay::Execute(TcpConnection& connection) {
  const std::stop_token stop = connection.StopToken();
  if (stop.stop_requested() || !connection.Connected()) {
    state_.NetworkExchangeActive = 0;
    return;
  }
  if (state_.SupervisionExchangeActive.Get() == 1) {
    // The buffer waits in the network stack; the next turn starts over once the flag is clear.
    state_.SupervisionExchangeActive.WaitUntilClear(stop);
    return;
  }
  try {
    Relay(connection);
  } catch (const std::exception&) {
    connection.Close();
    state_.NetworkExchangeActive = 0;
  }
}

void NetworkRelay::Relay(TcpConnection& connection) {
  // This connection's own copy: other connections overwrite LastNetworkMessage meanwhile.
  const std::string message = connection.Read();
  state_.LastNetworkMessage.Set(message);

  Bytes reply;
  {
    // Held from the preliminary read to the reply, so that neither can take the bytes of
    // another exchange.
    std::unique_ptr<LinkSession> session = console_.Acquire(connection.StopToken());
    if (!session) {
      state_.NetworkExchangeActive = 0;
      return;
    }
    session->Read(kPreliminaryReadMax);
    if (!IsAcceptableMessage(message)) return;

    state_.NetworkExchangeActive = 1;
    const ConsoleFrame frame = TranslateEvent(message, heard_);
    if (CarriesEvent(frame)) {
      try {
        WriteFrame(*session, frame);
      } catch (const std::exception&) {
        // Closed here, within the exchange, so that the reply read below fails and nothing
        // is acknowledged; the rest of the handling belongs to the main thread.
        session->ClosePort();
        request_write_failure_();
      }
      reply = session->Read(kReplyReadMax);
    } else if (state_.LinkTestPassed.load() != 0) {
      reply = BytesOf(kUntranslatedReply);
    }
  }

  if (IsAcknowledgement(reply)) {
    if (poll_.ConsumeIfMatches(AccountOf(message))) {
      connection.Write(kPollReply);
    } else {
      connection.Write(kAcknowledgement);
    }
  }
  state_.NetworkExchangeActive = 0;
}

void CapConnections(TcpServer& server, int connection_count) {
  if (connection_count >= kConnectionCap) server.CloseOldest();
}

}  // namespace gateway
