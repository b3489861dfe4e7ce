// The network relay: what each connection's thread does with the buffers its communicator
// sends (translate, pass to the console, answer the sender), and the cap on connections.
#pragma once

#include <cstdint>
#include <functional>

#include "channels/console_link.h"
#include "channels/poll_request.h"
#include "channels/tcp_server.h"
#include "frames/translate_event.h"
#include "supervision/gateway_state.h"

namespace gateway {

// From this many live connections on, each new one closes the oldest.
inline constexpr int kConnectionCap = 150;

// The acknowledgement and the poll reply, as they go to the communicator.
inline constexpr std::uint8_t kAcknowledgement[] = {0x06};
inline constexpr std::uint8_t kPollReply[] = {0x07, 0x00};

class NetworkRelay {
 public:
  // Everything is borrowed and must outlive the relay's last call. `request_write_failure`
  // hands the console write failure handling to the main thread; it must not wait for it.
  NetworkRelay(GatewayState& state, CounterReset& heard, ConsoleLink& console, PollRequest& poll,
               std::function<void()> request_write_failure);

  // One turn of a connection's thread: reads one buffer, relays it to the console when it is a
  // receiver line, and answers the sender when the console acknowledges. Never throws: a
  // failure closes the connection and sends the peer nothing. Waits (without spinning) while a
  // supervision exchange is under way, and gives up any wait when the connection is stopped.
  void Execute(TcpConnection& connection);

 private:
  // Steps from the read of the connection on; throws what fails.
  void Relay(TcpConnection& connection);

  GatewayState& state_;
  CounterReset& heard_;
  ConsoleLink& console_;
  PollRequest& poll_;
  const std::function<void()> request_write_failure_;
};

// The connection cap, run once for each accepted connection before its first turn: with
// `connection_count` (the last refreshed count) at kConnectionCap or more, closes the oldest
// listed connection, which may be the new one itself.
void CapConnections(TcpServer& server, int connection_count);

}  // namespace gateway
