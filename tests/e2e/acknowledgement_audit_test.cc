#include "e2e/acknowledgement_audit.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "frames/translate_event.h"

namespace gateway::e2e {
namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

class NoObjects : public CounterReset {
 public:
  void ResetCounter(std::string_view) override {}
};

const Clock::time_point kStart = Clock::now();

Bytes FrameOf(const std::string& line) {
  NoObjects objects;
  return TranslateEvent(line, objects);
}

// A line sent at `sent_ms` whose outcome was known `took_ms` later.
LineResult Line(const std::string& text, Outcome outcome, int sent_ms, int took_ms = 50) {
  LineResult line;
  line.line = text;
  line.outcome = outcome;
  line.reply = outcome == Outcome::kAck ? "\x06" : "";
  line.sent = kStart + std::chrono::milliseconds(sent_ms);
  line.settled = line.sent + std::chrono::milliseconds(took_ms);
  return line;
}

// A frame received at `at_ms` and answered `kind` after `after_ms`.
FrameEntry Frame(const Bytes& bytes, ReplyKind kind, int at_ms, int after_ms = 1) {
  FrameEntry entry;
  entry.frame = bytes;
  entry.checksum_ok = true;
  entry.planned.kind = kind;
  entry.received = kStart + std::chrono::milliseconds(at_ms);
  const std::size_t size = kind == ReplyKind::kShort ? 3 : kind == ReplyKind::kLong ? 5 : 4;
  if (kind != ReplyKind::kNone) {
    entry.reply.assign(size, 0x06);
    entry.replied = entry.received + std::chrono::milliseconds(after_ms);
  }
  return entry;
}

const Bytes kLinkTest = {0x1E, 0x01, 0x01, 0x24};
const std::string kAlarm = ReceiverLine("0001", "E130", "01", "005");
const std::string kRestore = ReceiverLine("0002", "R130", "01", "006");
const std::string kPeriodic = ReceiverLine("0003", "E602", "01", "000");

TEST(AcknowledgementAuditTest, RunThatKeptTheRulesHasNoViolation) {
  AuditInput input;
  input.lines = {Line(kAlarm, Outcome::kAck, 100), Line(kRestore, Outcome::kSilent, 200, 2500),
                 Line(kPeriodic, Outcome::kAck, 5000)};
  input.frames = {Frame(FrameOf(kAlarm), ReplyKind::kAck, 140),
                  Frame(FrameOf(kRestore), ReplyKind::kShort, 250),
                  Frame(kLinkTest, ReplyKind::kAck, 3000)};
  const AuditResult result = Audit(input);
  EXPECT_THAT(result.violations, IsEmpty()) << result.Summary("clean");
  EXPECT_EQ(result.rule, AuditRule::kExact);
  EXPECT_EQ(result.figures.acked, 2);
  EXPECT_EQ(result.figures.acked_without_event, 1);
}

struct FaultCase {
  const char* name;
  std::function<void(AuditInput&)> make;
  const char* violation;
};

TEST(AcknowledgementAuditTest, FindsEachKindOfFault) {
  const std::vector<FaultCase> cases = {
      {"ack after a 3-byte answer",
       [](AuditInput& in) {
         in.lines = {Line(kAlarm, Outcome::kAck, 100)};
         in.frames = {Frame(FrameOf(kAlarm), ReplyKind::kShort, 140)};
       },
       "console answered short"},
      {"ack after no answer",
       [](AuditInput& in) {
         in.lines = {Line(kAlarm, Outcome::kAck, 100, 300)};
         in.frames = {Frame(FrameOf(kAlarm), ReplyKind::kNone, 140)};
       },
       "console answered none"},
      {"ack for a frame the console never got",
       [](AuditInput& in) { in.lines = {Line(kAlarm, Outcome::kAck, 100)}; },
       "never reached the console"},
      {"ack without an event before any link test",
       [](AuditInput& in) {
         in.lines = {Line(kPeriodic, Outcome::kAck, 100)};
         in.frames = {Frame(kLinkTest, ReplyKind::kAck, 3000)};
       },
       "no link test had passed"},
      {"ack without an event after an unanswered link test",
       [](AuditInput& in) {
         in.lines = {Line(kPeriodic, Outcome::kAck, 5000)};
         in.frames = {Frame(kLinkTest, ReplyKind::kAck, 1000),
                      Frame(kLinkTest, ReplyKind::kNone, 3000)};
       },
       "no link test had passed"},
      {"ack for a line the gateway must refuse",
       [](AuditInput& in) { in.lines = {Line(kAlarm.substr(0, 20), Outcome::kAck, 100)}; },
       "must refuse"},
      {"console acknowledged, communicator got nothing",
       [](AuditInput& in) {
         in.lines = {Line(kAlarm, Outcome::kSilent, 100, 2500)};
         in.frames = {Frame(FrameOf(kAlarm), ReplyKind::kAck, 140)};
       },
       "communicator got nothing"},
      {"two bytes back",
       [](AuditInput& in) {
         in.lines = {Line(kAlarm, Outcome::kOther, 100)};
         in.lines[0].reply = "\x06\x06";
         in.frames = {Frame(FrameOf(kAlarm), ReplyKind::kAck, 140)};
       },
       "answered with"},
      {"frame sent twice",
       [](AuditInput& in) {
         in.lines = {Line(kAlarm, Outcome::kAck, 100)};
         in.frames = {Frame(FrameOf(kAlarm), ReplyKind::kAck, 140),
                      Frame(FrameOf(kAlarm), ReplyKind::kAck, 190)};
       },
       "came twice"},
      {"frame no line stands for",
       [](AuditInput& in) { in.frames = {Frame(FrameOf(kRestore), ReplyKind::kAck, 140)}; },
       "no line sent stands for"},
      {"bad checksum",
       [](AuditInput& in) {
         in.frames = {Frame(kLinkTest, ReplyKind::kAck, 140)};
         in.frames[0].checksum_ok = false;
       },
       "bad checksum"},
      {"bytes between frames", [](AuditInput& in) { in.stray_bytes = 2; }, "outside any frame"},
  };
  for (const FaultCase& fault : cases) {
    AuditInput input;
    fault.make(input);
    const AuditResult result = Audit(input);
    ASSERT_FALSE(result.violations.empty()) << fault.name;
    EXPECT_THAT(result.violations.front(), HasSubstr(fault.violation)) << fault.name;
  }
}

TEST(AcknowledgementAuditTest, LateAnswersAreHeldByCount) {
  // A late answer to the alarm is read by the restore's exchange: by count that is allowed, one
  // 4-byte reply for one acknowledgement.
  AuditInput input;
  input.rule = AuditRule::kExact;
  input.lines = {Line(kAlarm, Outcome::kSilent, 100, 2500), Line(kRestore, Outcome::kAck, 300)};
  input.frames = {Frame(FrameOf(kAlarm), ReplyKind::kLate, 140, 180),
                  Frame(FrameOf(kRestore), ReplyKind::kNone, 310)};
  AuditResult result = Audit(input);
  EXPECT_EQ(result.rule, AuditRule::kCounts);
  EXPECT_THAT(result.violations, IsEmpty()) << result.Summary("late");

  // A second acknowledgement has no 4-byte reply left to stand for.
  input.lines.push_back(Line(kPeriodic.substr(0, 7) + "0004E13001007\x14", Outcome::kAck, 700));
  input.frames.push_back(Frame(FrameOf(input.lines.back().line), ReplyKind::kNone, 710));
  result = Audit(input);
  ASSERT_EQ(result.violations.size(), 1u) << result.Summary("late");
  EXPECT_THAT(result.violations[0], HasSubstr("only 1 4-byte replies"));
}

TEST(AcknowledgementAuditTest, HeldUpConsoleExcusesOnlyTheLinesAroundIt) {
  // The console meant to acknowledge the alarm at once but was held up for 150 ms: the gateway
  // missed that answer and the restore's exchange read it. Far from there, a line acknowledged
  // after a 3-byte answer is still a fault.
  const std::string far = ReceiverLine("0004", "E130", "01", "007");
  AuditInput input;
  input.lines = {Line(kAlarm, Outcome::kSilent, 100, 2500), Line(kRestore, Outcome::kAck, 300),
                 Line(far, Outcome::kAck, 9000)};
  input.frames = {Frame(FrameOf(kAlarm), ReplyKind::kAck, 140, 150),
                  Frame(FrameOf(kRestore), ReplyKind::kNone, 310),
                  Frame(FrameOf(far), ReplyKind::kShort, 9010)};
  const AuditResult result = Audit(input);
  EXPECT_EQ(result.rule, AuditRule::kExact);
  EXPECT_EQ(result.figures.excused, 2);
  ASSERT_FALSE(result.violations.empty());
  EXPECT_THAT(result.violations[0], HasSubstr("0004E130"));
  EXPECT_THAT(result.violations[0], HasSubstr("console answered short"));
  ASSERT_EQ(result.notes.size(), 1u);
  EXPECT_THAT(result.notes[0], HasSubstr("at most 150 ms"));
}

}  // namespace
}  // namespace gateway::e2e
