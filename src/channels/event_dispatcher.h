// Hands work to the thread that owns a handler (the window's thread in the program).
#pragma once

#include <functional>

namespace gateway {

class EventDispatcher {
 public:
  virtual ~EventDispatcher() = default;
  // Queues `work` to run on the owner's thread and returns at once.
  virtual void Post(std::function<void()> work) = 0;
};

}  // namespace gateway
