// EventDispatcher on Qt's event loop: work posted from any thread runs on the thread that
// created the dispatcher.
#pragma once

#include <QObject>

#include "channels/event_dispatcher.h"

namespace gateway {

class QtEventDispatcher : public EventDispatcher {
 public:
  // Queues `work` as a queued call on the creating thread's event loop; returns at once. Work
  // still queued when the dispatcher is destroyed is dropped.
  void Post(std::function<void()> work) override;

 private:
  QObject context_;
};

}  // namespace gateway
