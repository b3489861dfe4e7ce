#include "e2e/scripted_console.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

namespace gateway::e2e {
namespace {

constexpr std::uint8_t kStart = 0x1E;
// How often the console looks for a stop while nothing comes.
constexpr auto kIdleWake = std::chrono::milliseconds(5);

const Bytes kAckBytes = {0x06, 0x06, 0x06, 0x06};

// CRC-8/MAXIM computed bit by bit, so that the console checks the gateway's table-driven sum
// rather than repeating it: over a whole frame with its checksum byte it gives 0.
std::uint8_t Crc8Maxim(const Bytes& bytes) {
  std::uint8_t crc = 0;
  for (std::uint8_t byte : bytes) {
    for (int bit = 0; bit < 8; ++bit) {
      const bool mix = ((crc ^ byte) & 1) != 0;
      crc >>= 1;
      if (mix) crc ^= 0x8C;
      byte >>= 1;
    }
  }
  return crc;
}

Bytes BytesFor(ReplyKind kind) {
  switch (kind) {
    case ReplyKind::kAck:
    case ReplyKind::kLate:
      return kAckBytes;
    case ReplyKind::kShort:
      return Bytes(kAckBytes.begin(), kAckBytes.begin() + 3);
    case ReplyKind::kLong: {
      Bytes bytes = kAckBytes;
      bytes.push_back(0x06);
      return bytes;
    }
    case ReplyKind::kNone:
      break;
  }
  return {};
}

// Writes a reply in one call, so that it reaches the gateway's read as one piece. False when the
// line would not take it (the gateway has stopped reading altogether).
bool WriteReply(PtyPair& pty, const Bytes& reply) {
  try {
    pty.Write(reply);
    return true;
  } catch (const std::system_error&) {
    return false;
  }
}

}  // namespace

const char* ReplyName(ReplyKind kind) {
  switch (kind) {
    case ReplyKind::kAck:
      return "ack";
    case ReplyKind::kNone:
      return "none";
    case ReplyKind::kShort:
      return "short";
    case ReplyKind::kLong:
      return "long";
    case ReplyKind::kLate:
      return "late";
  }
  return "?";
}

bool IsLinkTestFrame(const Bytes& frame) { return frame == Bytes{0x1E, 0x01, 0x01, 0x24}; }

bool IsSecondLinkTestFrame(const Bytes& frame) { return frame == Bytes{0x1E, 0x01, 0x03, 0x98}; }

ScriptedConsole::ScriptedConsole(std::string link_name, ReplyRule rule)
    : rule_(std::move(rule)),
      pty_(std::make_unique<PtyPair>()),
      link_(std::make_unique<DevLink>(std::move(link_name), pty_->SlavePath())),
      thread_([this](std::stop_token stop) { Run(stop); }) {}

ScriptedConsole::~ScriptedConsole() {
  thread_.request_stop();
  thread_.join();
  link_.reset();
  pty_.reset();
}

std::vector<FrameEntry> ScriptedConsole::Frames() const {
  std::lock_guard lock(mutex_);
  return frames_;
}

std::size_t ScriptedConsole::StrayBytes() const {
  std::lock_guard lock(mutex_);
  return stray_bytes_;
}

bool ScriptedConsole::WaitUntil(const std::function<bool(const std::vector<FrameEntry>&)>& done,
                                std::chrono::milliseconds limit) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, limit, [&] { return done(frames_); });
}

void ScriptedConsole::VanishAtNextEventFrame() {
  std::lock_guard lock(mutex_);
  vanish_armed_ = true;
}

void ScriptedConsole::VanishNow() {
  std::lock_guard lock(mutex_);
  vanish_now_ = true;
}

std::optional<Clock::time_point> ScriptedConsole::VanishedAt() const {
  std::lock_guard lock(mutex_);
  return vanished_at_;
}

std::vector<ScriptedConsole::Stall> ScriptedConsole::Stalls() const {
  std::lock_guard lock(mutex_);
  return stalls_;
}

bool ScriptedConsole::StalledWithin(Clock::time_point from, Clock::time_point to) const {
  std::lock_guard lock(mutex_);
  return std::any_of(stalls_.begin(), stalls_.end(),
                     [&](const Stall& stall) { return stall.from <= to && stall.to >= from; });
}

void ScriptedConsole::Run(std::stop_token stop) {
  Bytes pending;
  auto last_turn = Clock::now();
  while (!stop.stop_requested()) {
    {
      const auto now = Clock::now();
      std::lock_guard lock(mutex_);
      if (now - last_turn > kStallLimit) stalls_.push_back({last_turn, now});
      last_turn = now;
      if (vanish_now_) {
        pty_->CloseMaster();
        vanished_at_ = Clock::now();
        changed_.notify_all();
        return;
      }
    }
    const std::optional<Clock::time_point> next_due = SendDueReplies();
    auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(kIdleWake);
    if (next_due) {
      const auto until_due = std::chrono::ceil<std::chrono::milliseconds>(*next_due - Clock::now());
      wait = std::clamp(until_due, std::chrono::milliseconds(0), wait);
    }
    pollfd watched{pty_->master_fd(), POLLIN, 0};
    if (poll(&watched, 1, static_cast<int>(wait.count())) <= 0 || !(watched.revents & POLLIN)) {
      continue;
    }
    std::uint8_t buffer[1024];
    ssize_t got;
    while ((got = read(pty_->master_fd(), buffer, sizeof buffer)) > 0) {
      pending.insert(pending.end(), buffer, buffer + got);
    }
    if (!TakeFrames(pending)) return;
  }
}

bool ScriptedConsole::TakeFrames(Bytes& pending) {
  while (!pending.empty()) {
    if (pending[0] != kStart) {
      pending.erase(pending.begin());
      std::lock_guard lock(mutex_);
      ++stray_bytes_;
      continue;
    }
    {
      std::lock_guard lock(mutex_);
      if (vanish_armed_ && pending.size() >= 2 && pending[1] > 1) {
        // The start of an event frame: the console's end goes while the gateway may still be
        // writing the rest of it.
        pty_->CloseMaster();
        FrameEntry entry;
        entry.frame = pending;
        entry.complete = false;
        entry.planned.kind = ReplyKind::kNone;
        entry.received = Clock::now();
        frames_.push_back(std::move(entry));
        vanished_at_ = Clock::now();
        due_.clear();
        changed_.notify_all();
        return false;
      }
    }
    if (pending.size() < 2 || pending.size() < pending[1] + 3u) return true;
    const auto end = pending.begin() + pending[1] + 3;
    FrameEntry entry;
    entry.frame.assign(pending.begin(), end);
    pending.erase(pending.begin(), end);
    entry.received = Clock::now();
    entry.checksum_ok = Crc8Maxim(entry.frame) == 0;
    entry.planned = rule_(entry.frame);
    const Bytes reply = BytesFor(entry.planned.kind);
    if (entry.planned.kind != ReplyKind::kLate && !reply.empty() && WriteReply(*pty_, reply)) {
      entry.reply = reply;
      entry.replied = Clock::now();
    }
    std::lock_guard lock(mutex_);
    if (entry.planned.kind == ReplyKind::kLate) {
      due_.emplace_back(frames_.size(), entry.received + entry.planned.delay);
    }
    frames_.push_back(std::move(entry));
    changed_.notify_all();
  }
  return true;
}

std::optional<Clock::time_point> ScriptedConsole::SendDueReplies() {
  std::lock_guard lock(mutex_);
  std::optional<Clock::time_point> next;
  const auto now = Clock::now();
  for (auto it = due_.begin(); it != due_.end();) {
    if (it->second > now) {
      if (!next || it->second < *next) next = it->second;
      ++it;
      continue;
    }
    FrameEntry& entry = frames_[it->first];
    const Bytes reply = BytesFor(ReplyKind::kLate);
    if (WriteReply(*pty_, reply)) {
      entry.reply = reply;
      entry.replied = Clock::now();
    }
    it = due_.erase(it);
    changed_.notify_all();
  }
  return next;
}

}  // namespace gateway::e2e
