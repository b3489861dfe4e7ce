// The console port and its exclusive use: exchanges (a frame and the read of its reply) never
// interleave. The main thread waits behind at most the exchange in progress; workers that have
// not begun let it go first, and are served among themselves in the order they asked.
//
// Every user of the console port runs its whole exchange inside one session:
//   network relay (connection thread):
//       session = link.Acquire(stop); if (!session) the connection is ending;
//       session->Read(40) (discarded); translate; WriteFrame(*session, frame);
//       reply = session->Read(100); IsAcknowledgement(reply) decides the sender's answer.
//       On a write failure: session->ClosePort(), so the reply read fails, then the failure
//       handling goes to the main thread by a queued call.
//   reserve relay (main thread, in the receive handler), after its SupervisionExchangeActive
//       check: if link.HeldByCurrentThread() BEFORE the reserve port is read, the main thread
//       is already inside an exchange of its own: return without reading, so the bytes stay
//       and the reserve port raises the event again about 20 ms later. The link is not held
//       across the 40 ms wait and the reserve read; after the translation (nothing pumps in
//       between, so it cannot be refused) session = link.BeginExchange();
//       WriteFrame(*session, frame); let pending events run; reply = session->Read(100);
//       release the session; the 0x06 to the modem.
//   link test (main thread, timer): link.EnsureOpen(); session = link.BeginExchange();
//       if (!session) skip this tick; WriteFrame(*session, kLinkTestFrame); session->Read(50).
//   operator's test frame (main thread): session = link.BeginExchange(); if (!session) the
//       frame is dropped; WriteFrame(*session, frame); a 100 ms pause; session->Read(40).
//   fault or restore report (main thread): BeginExchange, WriteFrame, then the wait of up to 50
//       reads of 100 that console_exchange.h provides.
// A session is released when it is destroyed; keep it no longer than the exchange.
//
// A read or write that finds the console's line hung up (the console or its adapter has gone)
// closes the port there and then and tells the line-lost handler, once: the gateway must not
// go on looking connected to a console that is not there.
#pragma once

#include <condition_variable>
#include <functional>
#include <list>
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
  // One write of one byte; throws PortError(kErrWrite), also when the port is closed.
  void WriteByte(std::uint8_t byte) override;
  // One read under the port's read rule; throws PortError(kErrRead), also when it is closed.
  Bytes Read(int max) override;
  // Either of the two above on a hung-up line closes the port and tells the line-lost handler
  // before it throws.
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

  // Port settings; each takes exclusive use of the port for its moment (at once when this
  // thread already holds it). They throw the port's PortError.
  void SetPortName(std::string name);
  void SetBaudRate(int list_position);
  bool Open();
  // Closes the port; from the thread that holds the link it closes at once.
  bool Close();
  // Does not wait for the link.
  bool IsOpen() const;
  std::string PortName() const;
  int BaudRate() const;

  // From a worker thread: waits for the link behind the workers that asked before it; returns
  // nullptr if `stop` is requested first.
  std::unique_ptr<LinkSession> Acquire(std::stop_token stop);

  // ConsoleExchange, from the main thread: nullptr when the main thread already holds the link.
  // From any other thread it waits as Acquire does, without a stop.
  std::unique_ptr<ConsoleSession> BeginExchange() override;
  bool EnsureOpen() override;

  // Runs on the thread whose read or write found the line hung up, right after the port was
  // closed, holding the link: it must hand its work on and return at once. Set before use.
  void SetLineLostHandler(std::function<void()> handler);

  // Whether the calling thread holds the link now (an exchange of its own is under way).
  bool HeldByCurrentThread() const;
  // How many threads wait for the link now, the main thread included; does not wait for it.
  int WaitingCount() const;

 private:
  friend class LinkSession;
  // A worker in the queue; it lives on that worker's stack while it waits.
  struct Waiter;

  void Release();
  // With the mutex held and the link just given up: hands it to the main thread if it waits,
  // else to the first queued worker, else leaves it free. Wakes only the one it hands it to.
  void PassTurn();
  // Waits for the link on the main thread; false when the main thread already holds it.
  bool AcquireAsMain();
  bool HeldByThisThread() const;
  // Runs `action` under the link: at once when this thread holds it, else after taking it (the
  // main thread with its priority).
  void WithLink(const std::function<void()>& action);
  // Runs a read or write of a session; a hung-up line closes the port and is reported.
  template <typename Io>
  auto OnLine(Io io) -> decltype(io());

  SerialPort port_;
  std::function<void()> line_lost_;
  const std::thread::id main_thread_;
  mutable std::mutex mutex_;
  // Free only while nobody waits: a release hands the link on directly.
  bool held_ = false;
  std::thread::id holder_;
  // Set by the main thread when it begins to wait, cleared by the release that hands it the link.
  bool main_waiting_ = false;
  std::condition_variable main_turn_;
  std::list<Waiter*> queue_;
};

}  // namespace gateway
