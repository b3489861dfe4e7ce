#include "e2e/acknowledgement_audit.h"

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <sstream>

#include "communicator-sim/receiver_line.h"
#include "frames/bytes.h"
#include "frames/conversion_error.h"
#include "frames/receiver_message.h"
#include "frames/translate_event.h"

namespace gateway::e2e {
namespace {

// Link tests may pass between their frame and the end of the next one's reply read.
constexpr auto kLinkTestSpan = std::chrono::milliseconds(200);

class NoObjects : public CounterReset {
 public:
  void ResetCounter(std::string_view) override {}
};

// What the gateway makes of a line: its frame, or nothing when the line is refused or a field
// does not convert.
std::optional<Bytes> ExpectedFrame(const std::string& line) {
  if (!IsAcceptableMessage(line)) return std::nullopt;
  NoObjects objects;
  try {
    return TranslateEvent(line, objects);
  } catch (const ConversionError&) {
    return std::nullopt;
  }
}

bool RepliedPromptly(const FrameEntry& entry) {
  return entry.replied && *entry.replied - entry.received <= kPromptReplyLimit;
}

struct LinkTest {
  Clock::time_point at;
  bool passed;
};

// Whether the link test stood passed at some moment between `from` and `to`.
bool PassedWithin(const std::vector<LinkTest>& tests, Clock::time_point from,
                  Clock::time_point to) {
  for (std::size_t k = 0; k < tests.size(); ++k) {
    if (!tests[k].passed || tests[k].at > to) continue;
    if (k + 1 == tests.size() || tests[k + 1].at + kLinkTestSpan >= from) return true;
  }
  return false;
}

}  // namespace

AuditResult Audit(const AuditInput& input) {
  AuditResult result;
  result.rule = input.rule;
  AuditFigures& figures = result.figures;
  std::vector<std::string>& violations = result.violations;

  // The console's side.
  std::vector<ScriptedConsole::Stall> stalls = input.stalls;
  std::map<Bytes, const FrameEntry*> event_frames;
  std::vector<LinkTest> link_tests;
  for (const FrameEntry& entry : input.frames) {
    ++figures.replies[static_cast<int>(entry.planned.kind)];
    if (!entry.complete) {
      ++figures.incomplete_frames;
      continue;
    }
    if (entry.reply.size() == 4) ++figures.four_byte_replies;
    if (!entry.checksum_ok)
      violations.push_back("frame with a bad checksum: " + HexPairs(entry.frame));
    if (result.rule == AuditRule::kExact && entry.planned.kind == ReplyKind::kLate) {
      result.rule = AuditRule::kCounts;
      result.notes.push_back("late answers planned: acknowledgements held by count");
    }
    if (entry.planned.kind != ReplyKind::kLate && entry.replied && !RepliedPromptly(entry)) {
      stalls.push_back({entry.received, *entry.replied});
    }
    if (IsLinkTestFrame(entry.frame)) {
      ++figures.link_tests;
      link_tests.push_back({entry.received, !entry.reply.empty()});
    } else if (IsSecondLinkTestFrame(entry.frame)) {
      ++figures.second_link_tests;
    } else {
      ++figures.event_frames;
      if (!event_frames.emplace(entry.frame, &entry).second) {
        violations.push_back("frame came twice: " + HexPairs(entry.frame));
      }
    }
  }
  if (input.stray_bytes != 0) {
    violations.push_back(std::to_string(input.stray_bytes) + " bytes outside any frame");
  }
  const bool exact = result.rule == AuditRule::kExact;
  if (!stalls.empty()) {
    auto longest = std::chrono::milliseconds(0);
    for (const ScriptedConsole::Stall& stall : stalls) {
      longest = std::max(
          longest, std::chrono::duration_cast<std::chrono::milliseconds>(stall.to - stall.from));
    }
    result.notes.push_back("the console was held up " + std::to_string(stalls.size()) +
                           " times, at most " + std::to_string(longest.count()) +
                           " ms: lines around those times are held by count only");
  }
  // A mismatch of a rule that goes by the console's times, unless a stall of the console can
  // explain it.
  const auto mismatch = [&](const LineResult& line, std::string text) {
    const bool near_stall =
        std::any_of(stalls.begin(), stalls.end(), [&](const ScriptedConsole::Stall& stall) {
          return stall.from - kStallReach <= line.settled && stall.to + kStallReach >= line.sent;
        });
    if (near_stall) {
      ++figures.excused;
    } else {
      violations.push_back(std::move(text));
    }
  };

  // The communicators' side.
  std::set<Bytes> frames_of_lines;
  int acked_with_event = 0;
  for (const LineResult& line : input.lines) {
    ++figures.lines;
    const std::optional<Bytes> frame = ExpectedFrame(line.line);
    const bool carries_event = frame && CarriesEvent(*frame);
    if (carries_event) frames_of_lines.insert(*frame);
    const auto found = carries_event ? event_frames.find(*frame) : event_frames.end();
    const FrameEntry* entry = found == event_frames.end() ? nullptr : found->second;
    const std::string what = "\"" + EscapeForDisplay(line.line) + "\"";
    switch (line.outcome) {
      case Outcome::kAck:
        ++figures.acked;
        if (!frame) {
          violations.push_back(what + " acknowledged although the gateway must refuse it");
        } else if (carries_event) {
          ++acked_with_event;
          if (entry == nullptr) {
            violations.push_back(what + " acknowledged but its frame never reached the console");
          } else if (exact && entry->reply.size() != 4) {
            mismatch(line, what + " acknowledged although the console answered " +
                               ReplyName(entry->planned.kind));
          }
        } else {
          ++figures.acked_without_event;
          const bool allowed = exact ? PassedWithin(link_tests, line.sent, line.settled)
                                     : !link_tests.empty() && link_tests.front().at <= line.settled;
          if (!allowed) {
            mismatch(line, what + " without an event acknowledged while no link test had passed");
          }
        }
        break;
      case Outcome::kPoll:
      case Outcome::kOther:
        ++figures.other;
        violations.push_back(what + " answered with \"" + EscapeForDisplay(line.reply) + "\"");
        break;
      case Outcome::kSilent:
      case Outcome::kClosed:
        ++(line.outcome == Outcome::kSilent ? figures.silent : figures.closed);
        if (exact && entry != nullptr && entry->reply.size() == 4 && entry->replied &&
            *entry->replied + kLostAckMargin < line.settled) {
          mismatch(line, what +
                             ": the console acknowledged its frame but the communicator got "
                             "nothing");
        }
        break;
      case Outcome::kError:
        ++figures.not_sent;
        break;
    }
  }
  for (const auto& [frame, entry] : event_frames) {
    if (frames_of_lines.count(frame) == 0) {
      violations.push_back("frame that no line sent stands for: " + HexPairs(frame));
    }
  }
  if (acked_with_event > figures.four_byte_replies) {
    violations.push_back(std::to_string(acked_with_event) +
                         " messages with an event acknowledged, but the console sent only " +
                         std::to_string(figures.four_byte_replies) + " 4-byte replies");
  }
  return result;
}

std::string AuditResult::Summary(const std::string& name) const {
  const AuditFigures& f = figures;
  std::ostringstream text;
  text << name << " (" << (rule == AuditRule::kExact ? "matched one by one" : "held by count")
       << "): " << f.lines << " lines: ack " << f.acked << " (" << f.acked_without_event
       << " without event), silent " << f.silent << ", closed " << f.closed << ", other " << f.other
       << ", not sent " << f.not_sent << "; console: " << f.event_frames << " event frames, "
       << f.link_tests << " link tests, " << f.second_link_tests << " second link tests, "
       << f.incomplete_frames << " cut off; answers";
  for (int kind = 0; kind < 5; ++kind) {
    text << " " << ReplyName(static_cast<ReplyKind>(kind)) << " " << f.replies[kind];
  }
  text << ", 4-byte replies " << f.four_byte_replies;
  if (f.excused > 0) text << "; excused by stalls " << f.excused;
  text << "; violations " << violations.size();
  for (const std::string& note : notes) text << "\n  note: " << note;
  constexpr std::size_t kShown = 20;
  for (std::size_t i = 0; i < violations.size() && i < kShown; ++i) {
    text << "\n  violation: " << violations[i];
  }
  if (violations.size() > kShown) text << "\n  ... and " << violations.size() - kShown << " more";
  return text.str();
}

}  // namespace gateway::e2e
