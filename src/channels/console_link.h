// The console port and its exclusive use: exchanges (a frame and the read of its reply) never
// interleave. The main thread waits behind at most the exchange in progress; workers that have
// not begun let it go first.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>

#include "channels/serial_port.h"
#include "supervision/console_exchange.h"

namespace gateway {

class ConsoleLink;

// Exclusive use of the console port, released when destroyed.
class LinkSession : public ConsoleSession {
 public:
  ~LinkSession() override;
  void WriteByte(std::uint8_t byte) override;
  Bytes Read(int max) override;
  // Closes the console port within this exchange, ignoring a failure of the close.
  void ClosePort();

 private:
  friend class ConsoleLink;
  explicit LinkSession(ConsoleLink& link) : link_(link) {}
  ConsoleLink& link_;
};

class ConsoleLink : public ConsoleExchange {
 public:
  // The thread that constructs the link is its main thread.
  explicit ConsoleLink(std::string device_root = "/dev/");

  // Port settings; each takes exclusive use of the port for its moment.
  void SetPortName(std::string name);
  void SetBaudRate(int list_position);
  bool Open();
  // Closes the port; from the thread that holds the link it closes at once.
  bool Close();
  bool IsOpen() const;

  // From a worker thread: waits for the link; returns nullptr if `stop` is requested first.
  std::unique_ptr<LinkSession> Acquire(std::stop_token stop);

  // ConsoleExchange, from the main thread: nullptr when the main thread already holds the link.
  std::unique_ptr<ConsoleSession> BeginExchange() override;
  bool EnsureOpen() override;

 private:
  friend class LinkSession;
  void Release();
  // Waits for the link on the main thread; false when the main thread already holds it.
  bool AcquireAsMain();
  bool HeldByThisThread() const;

  SerialPort port_;
  std::thread::id main_thread_;
  mutable std::mutex mutex_;
  std::condition_variable_any changed_;
  bool held_ = false;
  std::thread::id holder_;
  int main_waiting_ = 0;
};

}  // namespace gateway
