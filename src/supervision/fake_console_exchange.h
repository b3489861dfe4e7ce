// A console port for tests: records every byte written, plays back scripted replies, and can be
// told to fail writes, refuse exchanges or fail to open. Compiled into tests only.
#pragma once

#include <algorithm>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "frames/bytes.h"
#include "supervision/console_exchange.h"

namespace gateway {

class FakeConsoleExchange : public ConsoleExchange {
 public:
  // Bytes the next read finds; a read of fewer than their number leaves the rest for the next
  // read, as the port's input buffer does. Empty bytes: a read that finds nothing.
  void QueueReply(Bytes bytes) {
    std::lock_guard lock(mutex_);
    replies_.push_back({false, std::move(bytes)});
  }
  // The next read fails.
  void QueueReadFailure() {
    std::lock_guard lock(mutex_);
    replies_.push_back({true, {}});
  }
  // Write call number `index` (counted from 0 over all sessions) fails and writes nothing.
  void FailWrite(int index) {
    std::lock_guard lock(mutex_);
    failing_writes_.push_back(index);
  }
  // The port as the console write failure handling leaves it: every later write and read fails.
  void ClosePort() {
    std::lock_guard lock(mutex_);
    closed_ = true;
  }
  // The next `count` calls of BeginExchange return nullptr, as when the main thread already
  // holds the port.
  void RefuseExchanges(int count) {
    std::lock_guard lock(mutex_);
    refusals_ += count;
  }
  // What EnsureOpen answers; a non-empty `error` makes it throw that text instead.
  void SetEnsureOpen(bool open, std::string error = {}) {
    std::lock_guard lock(mutex_);
    ensure_open_ = open;
    ensure_open_error_ = std::move(error);
  }

  // Every byte written, in order.
  Bytes Written() const {
    std::lock_guard lock(mutex_);
    Bytes all;
    for (const Bytes& session : session_writes_)
      all.insert(all.end(), session.begin(), session.end());
    return all;
  }
  // The bytes written in each granted session, in the order the sessions began.
  std::vector<Bytes> SessionWrites() const {
    std::lock_guard lock(mutex_);
    return session_writes_;
  }
  // The maximum asked by every read, in order, failed reads included.
  std::vector<int> ReadMaxima() const {
    std::lock_guard lock(mutex_);
    return read_maxima_;
  }
  int BeginCount() const {
    std::lock_guard lock(mutex_);
    return begin_count_;
  }
  int EnsureOpenCount() const {
    std::lock_guard lock(mutex_);
    return ensure_open_count_;
  }
  // Whether a granted session is alive now.
  bool SessionHeld() const {
    std::lock_guard lock(mutex_);
    return held_ > 0;
  }
  // Whether a session was ever granted while another was still alive.
  bool Overlapped() const {
    std::lock_guard lock(mutex_);
    return overlapped_;
  }

  std::unique_ptr<ConsoleSession> BeginExchange() override {
    std::lock_guard lock(mutex_);
    ++begin_count_;
    if (refusals_ > 0) {
      --refusals_;
      return nullptr;
    }
    if (held_ > 0) overlapped_ = true;
    ++held_;
    session_writes_.emplace_back();
    return std::make_unique<Session>(*this, session_writes_.size() - 1);
  }

  bool EnsureOpen() override {
    std::lock_guard lock(mutex_);
    ++ensure_open_count_;
    if (!ensure_open_error_.empty()) throw std::runtime_error(ensure_open_error_);
    return ensure_open_;
  }

 private:
  struct Reply {
    bool failure = false;
    Bytes bytes;
  };

  class Session : public ConsoleSession {
   public:
    Session(FakeConsoleExchange& fake, std::size_t index) : fake_(fake), index_(index) {}
    ~Session() override {
      std::lock_guard lock(fake_.mutex_);
      --fake_.held_;
    }
    void WriteByte(std::uint8_t byte) override { fake_.Write(index_, byte); }
    Bytes Read(int max) override { return fake_.Read(max); }

   private:
    FakeConsoleExchange& fake_;
    std::size_t index_;
  };

  void Write(std::size_t session, std::uint8_t byte) {
    std::lock_guard lock(mutex_);
    const int index = write_count_++;
    for (int failing : failing_writes_) {
      if (failing == index) throw std::runtime_error("Ошибка записи в порт");
    }
    if (closed_) throw std::runtime_error("Ошибка записи в порт");
    session_writes_[session].push_back(byte);
  }

  Bytes Read(int max) {
    std::lock_guard lock(mutex_);
    read_maxima_.push_back(max);
    if (closed_) throw std::runtime_error("Ошибка чтения из порта");
    if (replies_.empty()) return {};
    Reply& next = replies_.front();
    if (next.failure) {
      replies_.pop_front();
      throw std::runtime_error("Ошибка чтения из порта");
    }
    const std::size_t take = std::min(next.bytes.size(), static_cast<std::size_t>(max));
    Bytes got(next.bytes.begin(), next.bytes.begin() + static_cast<std::ptrdiff_t>(take));
    if (take == next.bytes.size()) {
      replies_.pop_front();
    } else {
      next.bytes.erase(next.bytes.begin(), next.bytes.begin() + static_cast<std::ptrdiff_t>(take));
    }
    return got;
  }

  mutable std::mutex mutex_;
  std::deque<Reply> replies_;
  std::vector<int> failing_writes_;
  bool closed_ = false;
  int refusals_ = 0;
  bool ensure_open_ = true;
  std::string ensure_open_error_;
  std::vector<Bytes> session_writes_;
  std::vector<int> read_maxima_;
  int write_count_ = 0;
  int begin_count_ = 0;
  int ensure_open_count_ = 0;
  int held_ = 0;
  bool overlapped_ = false;
};

}  // namespace gateway
