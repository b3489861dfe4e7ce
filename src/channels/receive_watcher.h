// The receive events of an open serial port: a thread that waits for input and has the
// port's handler run through a dispatcher, one call at a time.
#pragma once

#include <functional>
#include <memory>
#include <thread>

#include "channels/event_dispatcher.h"

namespace gateway {

class ReceiveWatcher {
 public:
  // Pause after a handler call that left bytes waiting, before the event is raised again.
  static constexpr int kLeftBytesPauseMs = 20;

  // Starts watching `fd`, which must stay open until Stop() has returned. Each arrival of
  // input posts `handler(waiting_bytes)` to `dispatcher`; the next arrival is looked at only
  // after that call has returned.
  ReceiveWatcher(int fd, std::function<void(int count)> handler, EventDispatcher& dispatcher);
  ~ReceiveWatcher();  // Stop()
  ReceiveWatcher(const ReceiveWatcher&) = delete;
  ReceiveWatcher& operator=(const ReceiveWatcher&) = delete;

  // Ends the watcher without waiting for a handler call that is queued or running, so it may
  // be called from inside the handler. A queued call that runs afterwards does nothing.
  void Stop();

 private:
  struct Shared;
  static void Run(std::shared_ptr<Shared> shared, int fd, EventDispatcher* dispatcher);

  std::shared_ptr<Shared> shared_;
  std::thread thread_;
};

}  // namespace gateway
