// A serial port on termios: exclusive, raw 8N1 without flow control, DTR and RTS raised while
// open, with millisecond read and write deadlines and receive events.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>

#include "channels/event_dispatcher.h"
#include "frames/bytes.h"

namespace gateway {

// The rates offered to the operator; a port's rate is chosen by position in this list.
inline constexpr std::array<int, 15> kBaudRates = {110,   300,   600,    1200,   2400,
                                                   4800,  9600,  14400,  19200,  38400,
                                                   56000, 57600, 115200, 128000, 256000};
inline constexpr int kBaudPosition9600 = 6;
inline constexpr int kBaudPosition115200 = 12;

class SerialPort {
 public:
  // `device_root` is prepended to port names ("/dev/" + "ttyUSB0").
  explicit SerialPort(std::string device_root = "/dev/");
  ~SerialPort();  // closes the port, ignoring failures
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  // Throws PortError(kErrRenameOpen) while the port is open.
  void SetPortName(std::string name);
  std::string PortName() const;
  // Position in kBaudRates; applied at once when the port is open.
  void SetBaudRate(int list_position);
  int BaudRate() const;

  // While the port is open, each arrival of input has `handler(waiting_bytes)` run through
  // `dispatcher`; the next event waits until the handler has returned. When the handler leaves
  // bytes waiting and nothing more arrives, the event comes again after a pause of about 20 ms.
  // A call that runs after the port was closed does nothing. Set before Open; without a
  // handler or a dispatcher the port raises no events.
  void SetReceiveHandler(std::function<void(int count)> handler, EventDispatcher* dispatcher);

  // Opens "device root + name" exclusively; does nothing when it is open. Returns IsOpen();
  // throws PortError, leaving the port closed.
  bool Open();
  // Lowers DTR then RTS, discards pending input (not output), stops receive events and
  // closes; does nothing when closed. Returns !IsOpen(); throws PortError, leaving the port
  // open, except when the device itself has gone (hung up), which closes regardless. May be
  // called from inside the receive handler: it does not wait for that handler.
  bool Close();
  // Does not wait for a read or write in progress.
  bool IsOpen() const;

  // One write, finished within count + 1 ms; returns the number of bytes written (a short
  // write is no error). Throws PortError(kErrWrite), as LineHungUp when the line has hung up.
  int Write(std::span<const std::uint8_t> bytes);
  // One read of up to `max` bytes: ends at `max` bytes, or more than 1 ms after a byte with no
  // further byte, or max + 1 ms after it began. Nothing read is no error. Throws
  // PortError(kErrRead) when it fails before any byte came; bytes received before a failure
  // are returned, the next call failing.
  Bytes Read(int max);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace gateway
