// The monitoring console as the end-to-end tests play it: a pseudo-terminal linked into /dev,
// which cuts what the gateway writes into frames, answers each as a rule says (at once, late,
// with too few or too many bytes, or not at all), keeps a record of every frame and every reply
// with their times, and can vanish (close its end of the line) in the middle of a frame.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "e2e/dev_link.h"
#include "fixtures/pty_pair.h"
#include "frames/bytes.h"

namespace gateway::e2e {

using Clock = std::chrono::steady_clock;

enum class ReplyKind {
  kAck,    // the 4 acknowledgement bytes at once
  kNone,   // nothing
  kShort,  // 3 bytes at once
  kLong,   // 5 bytes at once
  kLate,   // the 4 acknowledgement bytes after Reply::delay
};

// "ack", "none", "short", "long", "late".
const char* ReplyName(ReplyKind kind);

struct Reply {
  ReplyKind kind = ReplyKind::kAck;
  std::chrono::milliseconds delay{0};  // for kLate
};

// Picks the reply to each whole frame; runs on the console's thread.
using ReplyRule = std::function<Reply(const Bytes& frame)>;

// One frame the console read, and what it did about it.
struct FrameEntry {
  Bytes frame;
  bool complete = true;  // false: the console vanished while the frame was coming
  bool checksum_ok = false;
  Reply planned;
  Bytes reply;                               // the bytes written back; empty when none
  Clock::time_point received;                // when its last byte was read
  std::optional<Clock::time_point> replied;  // when the reply went onto the line
};

// The link-test frame and the one sent after a reply to it that is not an acknowledgement.
bool IsLinkTestFrame(const Bytes& frame);
bool IsSecondLinkTestFrame(const Bytes& frame);

class ScriptedConsole {
 public:
  // Opens a pseudo-terminal, links it into /dev as `link_name` and starts answering by `rule`.
  ScriptedConsole(std::string link_name, ReplyRule rule);
  ~ScriptedConsole();  // stops, closes the line and removes the link
  ScriptedConsole(const ScriptedConsole&) = delete;
  ScriptedConsole& operator=(const ScriptedConsole&) = delete;

  // The port name the gateway opens (the link's name in /dev).
  const std::string& PortName() const { return link_->name(); }
  // The pseudo-terminal behind the link ("/dev/pts/5").
  std::string SlavePath() const { return pty_->SlavePath(); }

  std::vector<FrameEntry> Frames() const;
  // Bytes that came where a frame should have started and did not.
  std::size_t StrayBytes() const;
  // Waits until `done(frames)` holds; false when `limit` passes first.
  bool WaitUntil(const std::function<bool(const std::vector<FrameEntry>&)>& done,
                 std::chrono::milliseconds limit) const;

  // The console closes its end of the line as soon as the next frame that is not a link test
  // has begun to come (its start and length bytes), whether or not the rest of it has come.
  void VanishAtNextEventFrame();
  // The console closes its end of the line now, between frames.
  void VanishNow();
  // When the console closed its end, if it has.
  std::optional<Clock::time_point> VanishedAt() const;

  // The times the console's own thread was held up (by a busy machine) for longer than
  // kStallLimit: an answer it gave then may have come too late for the gateway's read, whatever
  // the rule planned.
  struct Stall {
    Clock::time_point from, to;
  };
  static constexpr auto kStallLimit = std::chrono::milliseconds(40);
  std::vector<Stall> Stalls() const;
  // Whether a stall overlapped the time from `from` to `to`.
  bool StalledWithin(Clock::time_point from, Clock::time_point to) const;

 private:
  void Run(std::stop_token stop);
  // Cuts whole frames off `pending` and answers them; returns false once the console vanished.
  bool TakeFrames(Bytes& pending);
  // Writes the late replies that have fallen due; returns the time of the next one, if any.
  std::optional<Clock::time_point> SendDueReplies();

  ReplyRule rule_;
  std::unique_ptr<PtyPair> pty_;
  std::unique_ptr<DevLink> link_;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<FrameEntry> frames_;
  std::vector<std::pair<std::size_t, Clock::time_point>> due_;  // late replies: entry, when
  std::size_t stray_bytes_ = 0;
  std::vector<Stall> stalls_;
  bool vanish_armed_ = false;
  bool vanish_now_ = false;
  std::optional<Clock::time_point> vanished_at_;
  std::jthread thread_;
};

}  // namespace gateway::e2e
