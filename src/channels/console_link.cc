#include "channels/console_link.h"

#include <utility>

#include "channels/port_error.h"

namespace gateway {

LinkSession::~LinkSession() { link_.Release(); }

void LinkSession::WriteByte(std::uint8_t byte) { link_.port_.Write({&byte, 1}); }

Bytes LinkSession::Read(int max) { return link_.port_.Read(max); }

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

bool ConsoleLink::IsOpen() const { return port_.IsOpen(); }

std::string ConsoleLink::PortName() const { return port_.PortName(); }

int ConsoleLink::BaudRate() const { return port_.BaudRate(); }

std::unique_ptr<LinkSession> ConsoleLink::Acquire(std::stop_token stop) {
  std::unique_lock lock(mutex_);
  const bool free = changed_.wait(lock, stop, [&] { return !held_ && main_waiting_ == 0; });
  // A worker whose stop came while it waited, or before, begins no exchange.
  if (!free || stop.stop_requested()) return nullptr;
  held_ = true;
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
  {
    std::lock_guard lock(mutex_);
    held_ = false;
    holder_ = std::thread::id();
  }
  changed_.notify_all();
}

bool ConsoleLink::AcquireAsMain() {
  std::unique_lock lock(mutex_);
  if (held_ && holder_ == std::this_thread::get_id()) return false;
  ++main_waiting_;
  changed_.wait(lock, [&] { return !held_; });
  --main_waiting_;
  held_ = true;
  holder_ = std::this_thread::get_id();
  return true;
}

bool ConsoleLink::HeldByCurrentThread() const { return HeldByThisThread(); }

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
