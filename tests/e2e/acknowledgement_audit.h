// Holds what the communicators were told against what the console took: every acknowledgement
// must stand for a frame that the console received and acknowledged, or for a message without an
// event while link tests passed. Works after the run, from the station's outcomes and the
// console's record alone.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

#include "e2e/scripted_console.h"
#include "e2e/station.h"

namespace gateway::e2e {

enum class AuditRule {
  // The console answers every frame at once or not at all, so each reply is read by the exchange
  // of its own frame: acknowledgements are matched to frames one by one.
  kExact,
  // Replies may come late and be read by a later exchange: acknowledgements are held against
  // the console's 4-byte replies by count.
  kCounts,
};

struct AuditFigures {
  int lines = 0;
  int acked = 0;
  int acked_without_event = 0;  // acknowledged messages that carry no event
  int silent = 0;
  int closed = 0;
  int other = 0;  // poll replies and any other bytes
  int not_sent = 0;
  int event_frames = 0;
  int link_tests = 0;
  int second_link_tests = 0;
  int incomplete_frames = 0;
  int four_byte_replies = 0;  // frames of any kind the console answered with exactly 4 bytes
  int excused = 0;            // mismatches next to a time the console was held up
  int replies[5] = {};        // planned replies to all frames, indexed by ReplyKind
};

struct AuditResult {
  AuditRule rule = AuditRule::kExact;  // the rule that was applied
  AuditFigures figures;
  std::vector<std::string> violations;
  std::vector<std::string> notes;
  // One paragraph of figures, violations and notes, headed by `name`.
  std::string Summary(const std::string& name) const;
};

struct AuditInput {
  std::vector<LineResult> lines;
  std::vector<FrameEntry> frames;
  std::size_t stray_bytes = 0;
  AuditRule rule = AuditRule::kExact;
  // When the console's thread was held up: its answers may then have come late.
  std::vector<ScriptedConsole::Stall> stalls;
};

// An answer written later than this after its frame counts as late, whatever was planned, and
// the time in between as a time the console was held up.
inline constexpr auto kPromptReplyLimit = std::chrono::milliseconds(60);
// How far around a time the console was held up a late answer may be read by another exchange.
inline constexpr auto kStallReach = std::chrono::milliseconds(500);
// How much earlier than the communicator gave up a prompt acknowledgement must have gone out for
// the communicator's silence to count as a lost acknowledgement.
inline constexpr auto kLostAckMargin = std::chrono::milliseconds(1000);

// Applies `input.rule`; an exact audit of a run with late answers planned falls back to the
// count rule and says so in a note. A line whose time comes within kStallReach of a time the
// console was held up is not judged by the console's times (one-by-one matching, link tests):
// it is counted as excused. The count rule holds for every line all the same.
AuditResult Audit(const AuditInput& input);

}  // namespace gateway::e2e
