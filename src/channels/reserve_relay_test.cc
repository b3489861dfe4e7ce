#include "channels/reserve_relay.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "fixtures/answering_console.h"
#include "fixtures/pty_pair.h"
#include "fixtures/queue_dispatcher.h"
#include "supervision/object_table.h"

namespace gateway {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Alarm E130 of object 1234, group 01, zone 005, and the frame it becomes.
const std::string kAlarm = "5010 181234E13001005\x14";
const Bytes kAlarmFrame = {0x1E, 0x06, 0x02, 0xD1, 0x04, 0x01, 0x50, 0x14, 0xB0};
// An event without a translation: a frame of 7 bytes, never sent.
const std::string kUntranslated = "5010 181234E99901001\x14";
// An account that is not decimal: the translation fails.
const std::string kBadAccount = "5010 1812A4E13001005\x14";
const Bytes kAck = {0x06};
const Bytes kConsoleAck = {0xA1, 0xA2, 0xA3, 0xA4};

// The test plays the modem on one pseudo-terminal and the console on another; the relay runs
// on the test's thread, which is the console link's main thread.
class ReserveRelayTest : public ::testing::Test {
 protected:
  ReserveRelayTest() {
    reserve_.SetPortName(modem_.PortName());
    reserve_.SetBaudRate(kBaudPosition115200);
    reserve_.SetReceiveHandler(
        [this](int) {
          relay_.OnReceive();
          ++events_;
          flag_after_event_.push_back(state_.ReserveExchangeActive.load());
        },
        &dispatcher_);
    link_.SetPortName(console_pty_.PortName());
    table_.Load(":1234            180\n", [] {});
    table_.UpdateRecord(0, [](ObjectRecord& record) { record.SetMinuteCounter("0A5"); });
  }

  void SetUp() override {
    ASSERT_TRUE(reserve_.Open());
    ASSERT_TRUE(link_.Open());
  }

  ReserveRelayHooks Hooks() {
    return {
        [this] {
          flag_at_pump_.push_back(state_.ReserveExchangeActive.load());
          if (during_pump_) during_pump_(static_cast<int>(flag_at_pump_.size()));
        },
        [this] {
          ++write_failures_;
          session_held_at_failure_ = link_.HeldByCurrentThread();
          link_.Close();
        },
        [this](const Bytes& received) { log_.push_back(received); },
    };
  }

  void SendFromModem(const std::string& text) { modem_.Write(BytesOf(text)); }

  // Handles receive events until `lines` lines are logged, then a little longer, so that an
  // event that should not come has its chance.
  void RunUntilLogged(std::size_t lines) {
    EXPECT_TRUE(dispatcher_.RunUntil([&] { return log_.size() >= lines; }, 3s))
        << log_.size() << " lines";
    dispatcher_.RunFor(60ms);
    EXPECT_EQ(log_.size(), lines);
  }

  // What the modem received within a short while.
  Bytes ModemReceived() { return modem_.ReadFor(50ms); }

  // Every event ended with the flag back at 0.
  void ExpectFlagDownAfterEachEvent() {
    EXPECT_EQ(state_.ReserveExchangeActive.load(), 0);
    for (int flag : flag_after_event_) EXPECT_EQ(flag, 0);
  }

  PtyPair modem_;
  PtyPair console_pty_;
  QueueDispatcher dispatcher_;
  SerialPort reserve_;
  ConsoleLink link_;
  ObjectTable table_;
  GatewayState state_;

  std::vector<Bytes> log_;
  std::vector<int> flag_at_pump_;
  std::vector<int> flag_after_event_;
  std::function<void(int pump)> during_pump_;
  int events_ = 0;
  int write_failures_ = 0;
  bool session_held_at_failure_ = false;

  ReserveRelay relay_{reserve_, link_, table_, state_, Hooks()};
};

TEST_F(ReserveRelayTest, BurstIsLoggedOnceRelayedAsOneFrameAndAcknowledgedOnce) {
  AnsweringConsole console(console_pty_, kConsoleAck);
  SendFromModem(kAlarm);
  RunUntilLogged(1);
  EXPECT_EQ(log_[0], BytesOf(kAlarm));
  ASSERT_TRUE(console.WaitForFrames(1, 1s));
  EXPECT_EQ(console.Frames(), std::vector<Bytes>{kAlarmFrame});
  EXPECT_EQ(ModemReceived(), kAck);
  EXPECT_EQ(events_, 1);
  // The object was heard; events ran before the read and between the frame and its reply,
  // with the exchange flag up only for the latter.
  EXPECT_EQ(table_.Record(0).MinuteCounter(), "000");
  EXPECT_EQ(flag_at_pump_, (std::vector<int>{0, 1}));
  ExpectFlagDownAfterEachEvent();
  EXPECT_EQ(write_failures_, 0);
}

TEST_F(ReserveRelayTest, StandsBackWithoutReadingAndRelaysWhenTheEventComesAgain) {
  enum class Busy { kSupervisionExchange, kMainThreadHoldsTheLink };
  for (Busy busy : {Busy::kSupervisionExchange, Busy::kMainThreadHoldsTheLink}) {
    SCOPED_TRACE(busy == Busy::kSupervisionExchange ? "supervision exchange" : "link held");
    AnsweringConsole console(console_pty_, kConsoleAck);
    log_.clear();
    events_ = 0;
    std::unique_ptr<ConsoleSession> held;
    if (busy == Busy::kSupervisionExchange) {
      state_.SupervisionExchangeActive.Set(1);
    } else {
      held = link_.BeginExchange();
      ASSERT_NE(held, nullptr);
    }
    SendFromModem(kAlarm);
    // The bytes stay waiting, so the port raises the event again and again meanwhile.
    EXPECT_TRUE(dispatcher_.RunUntil([&] { return events_ >= 3; }, 2s));
    EXPECT_TRUE(log_.empty());
    EXPECT_TRUE(console.Frames().empty());

    state_.SupervisionExchangeActive.Set(0);
    held.reset();
    RunUntilLogged(1);
    EXPECT_EQ(log_[0], BytesOf(kAlarm));
    ASSERT_TRUE(console.WaitForFrames(1, 1s));
    EXPECT_EQ(console.Frames(), std::vector<Bytes>{kAlarmFrame});
    EXPECT_EQ(ModemReceived(), kAck);
    ExpectFlagDownAfterEachEvent();
  }
}

TEST_F(ReserveRelayTest, BytesLeftWaitingAreReadTogetherWithWhatCameSince) {
  AnsweringConsole console(console_pty_, kConsoleAck);
  state_.SupervisionExchangeActive.Set(1);
  SendFromModem(kAlarm);
  EXPECT_TRUE(dispatcher_.RunUntil([&] { return events_ >= 1; }, 2s));
  state_.SupervisionExchangeActive.Set(0);
  SendFromModem("OK");
  RunUntilLogged(1);
  EXPECT_EQ(log_[0], BytesOf(kAlarm + "OK"));
  EXPECT_TRUE(console.Frames().empty());
  EXPECT_TRUE(ModemReceived().empty());
  ExpectFlagDownAfterEachEvent();
}

TEST_F(ReserveRelayTest, MessageInPiecesIsLoggedPieceByPieceAndRejected) {
  AnsweringConsole console(console_pty_, kConsoleAck);
  SendFromModem(kAlarm.substr(0, 8));
  RunUntilLogged(1);
  SendFromModem(kAlarm.substr(8));
  RunUntilLogged(2);
  EXPECT_EQ(log_, (std::vector<Bytes>{BytesOf(kAlarm.substr(0, 8)), BytesOf(kAlarm.substr(8))}));
  EXPECT_TRUE(console.Frames().empty());
  EXPECT_TRUE(ModemReceived().empty());
  EXPECT_EQ(table_.Record(0).MinuteCounter(), "0A5");  // never translated
  ExpectFlagDownAfterEachEvent();
}

TEST_F(ReserveRelayTest, EventThatFindsNothingLeftLogsAnEmptyLineAndNothingElse) {
  AnsweringConsole console(console_pty_, kConsoleAck);
  // Another reader takes the bytes while the event lets other work run, before its own read.
  during_pump_ = [&](int pump) {
    if (pump == 1) reserve_.Read(400);
  };
  SendFromModem(kAlarm);
  RunUntilLogged(1);
  EXPECT_EQ(log_[0], Bytes{});
  EXPECT_TRUE(console.Frames().empty());
  EXPECT_TRUE(ModemReceived().empty());
  EXPECT_EQ(flag_at_pump_, std::vector<int>{0});
  ExpectFlagDownAfterEachEvent();
}

TEST_F(ReserveRelayTest, UntranslatedEventIsAcknowledgedOnlyWhileLinkTestsPass) {
  AnsweringConsole console(console_pty_, kConsoleAck);
  const struct {
    int link_test_passed;
    Bytes to_modem;
  } kCases[] = {{0, {}}, {-1, kAck}, {1, kAck}};
  std::size_t lines = 0;
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.link_test_passed);
    state_.LinkTestPassed = c.link_test_passed;
    table_.UpdateRecord(0, [](ObjectRecord& record) { record.SetMinuteCounter("0A5"); });
    SendFromModem(kUntranslated);
    RunUntilLogged(++lines);
    EXPECT_EQ(ModemReceived(), c.to_modem);
    EXPECT_EQ(table_.Record(0).MinuteCounter(), "000");  // heard all the same
  }
  EXPECT_TRUE(console.Frames().empty());
  EXPECT_EQ(flag_at_pump_, (std::vector<int>{0, 0, 0}));  // no reply to wait for
  ExpectFlagDownAfterEachEvent();
}

TEST_F(ReserveRelayTest, ConsoleReplyOtherThanFourBytesWritesNothingToTheModem) {
  AnsweringConsole console(console_pty_);
  const Bytes kReplies[] = {{}, {0x06, 0x06, 0x06}, {0x06, 0x06, 0x06, 0x06, 0x06}};
  std::size_t lines = 0;
  for (const Bytes& reply : kReplies) {
    SCOPED_TRACE(reply.size());
    console.SetReply(reply);
    SendFromModem(kAlarm);
    RunUntilLogged(++lines);
    EXPECT_TRUE(ModemReceived().empty());
  }
  EXPECT_EQ(console.Frames().size(), 3u);
  ExpectFlagDownAfterEachEvent();
}

TEST_F(ReserveRelayTest, TranslationFailureEndsTheEventAndLaterMessagesStillCome) {
  AnsweringConsole console(console_pty_, kConsoleAck);
  state_.LinkTestPassed = -1;
  SendFromModem(kBadAccount);
  RunUntilLogged(1);
  EXPECT_TRUE(ModemReceived().empty());
  EXPECT_TRUE(console.Frames().empty());
  ExpectFlagDownAfterEachEvent();

  SendFromModem(kAlarm);
  RunUntilLogged(2);
  EXPECT_EQ(ModemReceived(), kAck);
  EXPECT_EQ(console.Frames(), std::vector<Bytes>{kAlarmFrame});
}

TEST_F(ReserveRelayTest, ConsoleWriteFailureRunsTheHandlingOnceAfterReleasingTheLink) {
  console_pty_.CloseMaster();  // the console's end of the line is gone: writes fail
  SendFromModem(kAlarm);
  RunUntilLogged(1);
  EXPECT_EQ(write_failures_, 1);
  EXPECT_FALSE(session_held_at_failure_);
  EXPECT_FALSE(link_.IsOpen());
  EXPECT_TRUE(ModemReceived().empty());
  EXPECT_EQ(flag_at_pump_, std::vector<int>{0});  // no wait for a reply
  ExpectFlagDownAfterEachEvent();
}

TEST_F(ReserveRelayTest, ReservePortClosedByPumpedEventsEndsTheEventQuietly) {
  // Pumped events may run a Disconnect that closes the reserve port: before the read of the
  // message (the read fails, nothing is logged), or before the acknowledgement is written.
  AnsweringConsole console(console_pty_, kConsoleAck);
  for (int closing_pump : {1, 2}) {
    SCOPED_TRACE(closing_pump);
    log_.clear();
    flag_at_pump_.clear();
    during_pump_ = [&](int pump) {
      if (pump == closing_pump) reserve_.Close();
    };
    const std::size_t frames_before = console.Frames().size();
    SendFromModem(kAlarm);
    EXPECT_TRUE(dispatcher_.RunUntil([&] { return !reserve_.IsOpen(); }, 2s));
    dispatcher_.RunFor(100ms);
    EXPECT_EQ(log_.size(), closing_pump == 1 ? 0u : 1u);
    EXPECT_EQ(console.Frames().size(), frames_before + (closing_pump == 1 ? 0u : 1u));
    EXPECT_TRUE(ModemReceived().empty());
    ExpectFlagDownAfterEachEvent();

    // Opened again, the port raises events for new arrivals.
    during_pump_ = nullptr;
    modem_.ReadFor(10ms);
    ASSERT_TRUE(reserve_.Open());
    log_.clear();
    SendFromModem(kAlarm);
    RunUntilLogged(1);
    EXPECT_EQ(ModemReceived(), kAck);
  }
}

}  // namespace
}  // namespace gateway
