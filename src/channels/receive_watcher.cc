#include "channels/receive_watcher.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>

#include "channels/port_error.h"

namespace gateway {
namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kPause = std::chrono::milliseconds(ReceiveWatcher::kLeftBytesPauseMs);
// While bytes that a handler left are waiting, a new arrival is noticed at this pace: a level
// triggered poll cannot tell new input from old.
constexpr auto kLeftBytesTick = std::chrono::milliseconds(2);

timespec ToTimespec(Clock::duration d) {
  if (d < Clock::duration::zero()) d = Clock::duration::zero();
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(d).count();
  return timespec{static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
}

// Bytes waiting in the input buffer, or -1 when the driver cannot tell.
int WaitingBytes(int fd) {
  int count = 0;
  if (ioctl(fd, FIONREAD, &count) != 0) return -1;
  return count;
}

}  // namespace

struct ReceiveWatcher::Shared {
  explicit Shared(std::function<void(int)> h) : handler(std::move(h)) {
    wake_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake_fd < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
  }
  ~Shared() { close(wake_fd); }

  bool Stopping() {
    std::lock_guard lock(mutex);
    return stopping;
  }

  // Waits for the wake-up signal or `timeout` (nullptr: no limit). Also returns early when
  // `fd` reports a hang-up or error, which poll delivers whatever events were asked for.
  // Returns the fd's revents.
  short WaitFor(int fd, short events, const timespec* timeout) {
    pollfd fds[2] = {{fd, events, 0}, {wake_fd, POLLIN, 0}};
    int ready = ppoll(fds, 2, timeout, nullptr);
    if (ready < 0) return 0;
    return fds[0].revents;
  }

  const std::function<void(int)> handler;
  int wake_fd = -1;
  std::mutex mutex;
  std::condition_variable changed;
  bool stopping = false;
  bool call_done = false;
};

ReceiveWatcher::ReceiveWatcher(int fd, std::function<void(int count)> handler,
                               EventDispatcher& dispatcher)
    : shared_(std::make_shared<Shared>(std::move(handler))),
      thread_(&ReceiveWatcher::Run, shared_, fd, &dispatcher) {}

ReceiveWatcher::~ReceiveWatcher() { Stop(); }

void ReceiveWatcher::Stop() {
  {
    std::lock_guard lock(shared_->mutex);
    shared_->stopping = true;
  }
  shared_->changed.notify_all();
  const std::uint64_t one = 1;
  [[maybe_unused]] ssize_t ignored = write(shared_->wake_fd, &one, sizeof one);
  if (!thread_.joinable()) return;
  // A dispatcher that ran the handler on the watcher's own thread would make a join from
  // inside the handler wait for itself; the watcher leaves on its own once it sees the stop.
  if (thread_.get_id() == std::this_thread::get_id()) {
    thread_.detach();
  } else {
    thread_.join();
  }
}

void ReceiveWatcher::Run(std::shared_ptr<Shared> shared, int fd, EventDispatcher* dispatcher) {
  constexpr short kGone = POLLHUP | POLLERR | POLLNVAL;
  int left = 0;  // bytes the last handler call left waiting
  while (!shared->Stopping()) {
    const bool after_pause = left > 0;
    if (after_pause) {
      // Give the owner a pause before raising the event again for bytes it stood back from,
      // but raise it at once when more input arrives.
      const auto deadline = Clock::now() + kPause;
      bool gone = false;
      while (!shared->Stopping()) {
        const auto remaining = deadline - Clock::now();
        if (remaining <= Clock::duration::zero()) break;
        const timespec tick = ToTimespec(std::min<Clock::duration>(remaining, kLeftBytesTick));
        if (shared->WaitFor(fd, 0, &tick) & kGone) {
          gone = true;
          break;
        }
        const int now_waiting = WaitingBytes(fd);
        if (now_waiting != left) break;
      }
      left = 0;
      if (gone) {
        // The device or the other side of a pseudo-terminal has gone: nothing more can arrive.
        while (!shared->Stopping()) shared->WaitFor(-1, 0, nullptr);
        return;
      }
      if (shared->Stopping()) return;
    } else {
      const short revents = shared->WaitFor(fd, POLLIN, nullptr);
      if (shared->Stopping()) return;
      if (revents & kGone) {
        while (!shared->Stopping()) shared->WaitFor(-1, 0, nullptr);
        return;
      }
      if (!(revents & POLLIN)) continue;
    }

    const int count = WaitingBytes(fd);
    if (count == 0 && after_pause) continue;  // someone else read them meanwhile
    if (count <= 0) {
      // The driver could not say how much is waiting (its ClearCommError failure) or nothing
      // is: that event is skipped, after a pause so a persistent failure does not spin.
      const timespec pause = ToTimespec(kPause);
      shared->WaitFor(-1, 0, &pause);
      continue;
    }

    {
      std::lock_guard lock(shared->mutex);
      shared->call_done = false;
    }
    dispatcher->Post([shared, count] {
      {
        std::lock_guard lock(shared->mutex);
        if (shared->stopping) return;
      }
      struct MarkDone {
        Shared& s;
        ~MarkDone() {
          {
            std::lock_guard lock(s.mutex);
            s.call_done = true;
          }
          s.changed.notify_all();
        }
      } mark_done{*shared};
      shared->handler(count);
    });
    {
      std::unique_lock lock(shared->mutex);
      shared->changed.wait(lock, [&] { return shared->call_done || shared->stopping; });
      if (shared->stopping) return;
    }
    const int after = WaitingBytes(fd);
    // More than were waiting for the call means new input arrived while it ran: raise at once.
    left = (after > 0 && after <= count) ? after : 0;
  }
}

}  // namespace gateway
