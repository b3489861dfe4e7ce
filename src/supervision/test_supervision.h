// The one-second supervision tick behind TimerSaveHistory: the connection count, the status
// line and, while connected, the minute counting of every object with its fault and restore
// reports to the console.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "frames/console_frame.h"
#include "supervision/console_exchange.h"
#include "supervision/gateway_state.h"
#include "supervision/object_table.h"

namespace gateway {

// "COM1, 0.0.0.0, 5551, соединений: 3" (UTF-8): the status line shown under the window.
std::string StatusLineText(std::string_view port_name, std::string_view address,
                           std::string_view tcp_port, int connection_count);

// The minute counter after its turn: one more when `second_counter` is 59 or more, otherwise as
// it was; upper-case hexadecimal, the first three characters of at least three digits, so
// "FFF" becomes "100". A counter that is not three hexadecimal digits starts again from zero.
std::string AdvanceCounter(std::string_view counter, int second_counter);

// What the window reads for each tick.
struct SupervisionTickInput {
  bool connected = false;    // the gateway is connected (ButtonConnect disabled)
  int connection_count = 0;  // entries in the server's list of connection threads
  std::string port_name;     // text of cbPort
  std::string address;       // text of AdvMaskEdit_IP_ADR
  std::string tcp_port;      // text of AdvEdit_PortServer
};

// What the window lends the supervision. All run on the main thread and all are required.
struct SupervisionHooks {
  // Lets pending window events run.
  std::function<void()> process_events;
  // The console write failure handling: closes the console port and disconnects; may pump.
  std::function<void()> console_write_failure;
  // Shows the status line (sLabel1's caption).
  std::function<void(const std::string&)> show_status;
};

// Runs on the main thread; the table and the state are shared with the connection threads.
class TestSupervision {
 public:
  // Throws std::invalid_argument when a hook is missing.
  TestSupervision(ObjectTable& table, GatewayState& state, ConsoleExchange& console,
                  SupervisionHooks hooks);

  // One tick of TimerSaveHistory. Returns false, having done nothing at all, when it falls due
  // inside a tick that is still running (from events pumped there).
  bool Tick(const SupervisionTickInput& input);

 private:
  // One record's turn: rows 1 to 5 of the supervision rules.
  void VisitRecord(std::size_t index, int second_counter);
  // Sends a fault or restore frame and waits for its reply; an acknowledgement writes
  // `acknowledged_state` as the record's fault state.
  void Report(std::size_t index, const ConsoleFrame& frame, std::string_view acknowledged_state);

  ObjectTable& table_;
  GatewayState& state_;
  ConsoleExchange& console_;
  SupervisionHooks hooks_;
  bool running_ = false;
};

}  // namespace gateway
