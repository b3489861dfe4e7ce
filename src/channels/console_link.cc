#include "channels/console_link.h"

#include <utility>

#include "channels/port_error.h"

namespace gateway {

struct ConsoleLink::Waiter {
  // Only this worker waits on it, so a release wakes no other.
  std::condition_variable_any turn;
  bool granted = false;
};

template <typename Io>
auto ConsoleLink::OnLine(Io io) -> decltype(io()) {
  try {
    return io();
  } catch (const LineHungUp&) {
    // The port is useless from here on; closing it at once tells every later exchange so, and
    // the handler hears of it only from the exchange that closed it.
    try {
      port_.Close();
    } catch (const PortError&) {
    }
    if (line_lost_) line_lost_();
    throw;
  }
}

LinkSession::~LinkSession() { link_.Release(); }

void LinkSession::WriteByte(std::uint8_t byte) {
  link_.OnLine([&] { return link_.port_.Write({&byte, 1}); });
}

Bytes LinkSession::Read(int max) {
  return link_.OnLine([&] { return link_.port_.Read(max); });
}

void LinkSession::ClosePort() {
  try {
    link_.port_.Close();
  } catch (const PortError&) {
    // The exchange only needs the port's reads and writes to fail from here on; a port that
    // refuses to close is dealt with by whoever closes it next.
  }
}

ConsoleLink::ConsoleLink(std::string device_root)
    : port_(std::move(device_root)), main_thread_(std::this_thread::get_id()) {}

void ConsoleLink::SetPortName(std::string name) {
  WithLink([&] { port_.SetPortName(std::move(name)); });
}

void ConsoleLink::SetBaudRate(int list_position) {
  WithLink([&] { port_.SetBaudRate(list_position); });
}

bool ConsoleLink::Open() {
  bool open = false;
  WithLink([&] { open = port_.Open(); });
  return open;
}

bool ConsoleLink::Close() {
  bool closed = false;
  WithLink([&] { closed = port_.Close(); });
  return closed;
}

void ConsoleLink::SetLineLostHandler(std::function<void()> handler) {
  line_lost_ = std::move(handler);
}

bool ConsoleLink::IsOpen() const { return port_.IsOpen(); }

std::string ConsoleLink::PortName() const { return port_.PortName(); }

int ConsoleLink::BaudRate() const { return port_.BaudRate(); }

std::unique_ptr<LinkSession> ConsoleLink::Acquire(std::stop_token stop) {
  std::unique_lock lock(mutex_);
  // A worker whose stop came before it asked begins no exchange.
  if (stop.stop_requested()) return nullptr;
  if (held_) {
    Waiter self;
    const auto place = queue_.insert(queue_.end(), &self);
    if (!self.turn.wait(lock, stop, [&] { return self.granted; })) {
      queue_.erase(place);
      return nullptr;
    }
    // The release took it off the queue and made it the holder. A stop that came at the same
    // moment still ends this worker, but the turn must go on, or every later exchange stalls.
    if (stop.stop_requested()) {
      PassTurn();
      return nullptr;
    }
  } else {
    held_ = true;
  }
  holder_ = std::this_thread::get_id();
  return std::unique_ptr<LinkSession>(new LinkSession(*this));
}

std::unique_ptr<ConsoleSession> ConsoleLink::BeginExchange() {
  if (std::this_thread::get_id() != main_thread_) return Acquire(std::stop_token());
  if (!AcquireAsMain()) return nullptr;
  return std::unique_ptr<LinkSession>(new LinkSession(*this));
}

bool ConsoleLink::EnsureOpen() {
  bool open = false;
  WithLink([&] { open = port_.IsOpen() || port_.Open(); });
  return open;
}

void ConsoleLink::Release() {
  std::lock_guard lock(mutex_);
  PassTurn();
}

void ConsoleLink::PassTurn() {
  // Each wake happens under the mutex: a woken worker's Waiter lives on its stack and is gone as
  // soon as it can return, which it cannot before the mutex is free.
  if (main_waiting_) {
    main_waiting_ = false;
    holder_ = main_thread_;
    main_turn_.notify_one();
  } else if (!queue_.empty()) {
    Waiter* next = queue_.front();
    queue_.pop_front();
    next->granted = true;
    holder_ = std::thread::id();  // the worker names itself when it wakes, or passes the turn
    next->turn.notify_one();
  } else {
    held_ = false;
    holder_ = std::thread::id();
  }
}

bool ConsoleLink::AcquireAsMain() {
  std::unique_lock lock(mutex_);
  if (held_ && holder_ == std::this_thread::get_id()) return false;
  if (held_) {
    main_waiting_ = true;
    main_turn_.wait(lock, [&] { return !main_waiting_; });
  } else {
    held_ = true;
    holder_ = std::this_thread::get_id();
  }
  return true;
}

bool ConsoleLink::HeldByCurrentThread() const { return HeldByThisThread(); }

int ConsoleLink::WaitingCount() const {
  std::lock_guard lock(mutex_);
  return static_cast<int>(queue_.size()) + (main_waiting_ ? 1 : 0);
}

bool ConsoleLink::HeldByThisThread() const {
  std::lock_guard lock(mutex_);
  return held_ && holder_ == std::this_thread::get_id();
}

void ConsoleLink::WithLink(const std::function<void()>& action) {
  if (HeldByThisThread()) {
    action();
    return;
  }
  std::unique_ptr<ConsoleSession> session;
  if (std::this_thread::get_id() == main_thread_) {
    AcquireAsMain();
    session.reset(new LinkSession(*this));
  } else {
    session = Acquire(std::stop_token());
  }
  action();
}

}  // namespace gateway
