// The reserve channel's receive event: a receiver line read from the GSM modem's serial port is
// logged, translated, relayed to the console, and acknowledged to the modem with 0x06 once the
// console has acknowledged it.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

#include "channels/console_link.h"
#include "channels/serial_port.h"
#include "frames/bytes.h"
#include "frames/translate_event.h"
#include "supervision/gateway_state.h"

namespace gateway {

// What the window lends the relay. All run on the main thread and all are required.
struct ReserveRelayHooks {
  // Lets pending window events run.
  std::function<void()> process_events;
  // The console write failure handling: closes the console port and disconnects; may pump.
  std::function<void()> console_write_failure;
  // Logs one receive event with the bytes exactly as read from the reserve port (maybe none).
  std::function<void(const Bytes& received)> log_received;
};

class ReserveRelay {
 public:
  // How long the event waits for the rest of a message before it reads the reserve port.
  static constexpr std::chrono::milliseconds kReadDelay{40};
  // The most one event reads from the reserve port.
  static constexpr int kReadMax = 400;
  // The most the console's reply read takes.
  static constexpr int kReplyMax = 100;
  // The acknowledgement written to the modem.
  static constexpr std::uint8_t kAcknowledgement = 0x06;

  // `reserve_port` is the modem's port, `console` the console link, `heard` is told of every
  // translated message. Throws std::invalid_argument when a hook is missing.
  ReserveRelay(SerialPort& reserve_port, ConsoleLink& console, CounterReset& heard,
               GatewayState& state, ReserveRelayHooks hooks);

  // One receive event of the reserve port, on the main thread. Stands back without reading
  // while a supervision exchange runs or the main thread already holds the console link, so the
  // bytes stay for the event the port raises again. Failures of the reserve port, of the
  // translation and of the console end the event without an acknowledgement; failures of the
  // hooks propagate. ReserveExchangeActive is 0 again however it ends.
  void OnReceive();

 private:
  // The console's reply to `frame`, or no bytes when the exchange could not be made.
  Bytes Relay(const Bytes& frame);

  SerialPort& reserve_port_;
  ConsoleLink& console_;
  CounterReset& heard_;
  GatewayState& state_;
  ReserveRelayHooks hooks_;
};

}  // namespace gateway
