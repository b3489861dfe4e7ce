#include "supervision/test_supervision.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "frames/bytes.h"
#include "supervision/fake_console_exchange.h"

namespace gateway {
namespace {

const Bytes kFault0001 = {0x1E, 0x05, 0x02, 0x00, 0x00, 0x01, 0x61, 0x13};
const Bytes kRestore0001 = {0x1E, 0x05, 0x02, 0x00, 0x00, 0x01, 0x60, 0x4D};
const Bytes kFault1234 = {0x1E, 0x05, 0x02, 0xD1, 0x04, 0x01, 0x61, 0x03};
const Bytes kAcknowledgement = {0x31, 0x32, 0x33, 0x34};

// A supervision over a fake console, with hooks that count and record what they are given.
struct Rig {
  // Loads records from object list lines: object number and limit.
  void LoadObjects(const std::vector<std::pair<std::string, std::string>>& objects) {
    std::string text;
    for (const auto& [object, limit] : objects) {
      text += ":" + object + "-unread-text" + limit + "\r\n";
    }
    table.Load(text, [] {});
  }
  void SetRecord(std::size_t index, const std::string& counter, const std::string& fault_state) {
    table.UpdateRecord(index, [&](ObjectRecord& record) {
      record.SetMinuteCounter(counter);
      record.SetFaultState(fault_state);
    });
  }
  std::string Counter(std::size_t index) const {
    return std::string(table.Record(index).MinuteCounter());
  }
  std::string State(std::size_t index) const {
    return std::string(table.Record(index).FaultState());
  }
  bool Tick(bool connected = true, int connections = 0) {
    return supervision.Tick({connected, connections, "COM1", "0.0.0.0", "5551"});
  }
  void TickTimes(int ticks) {
    for (int i = 0; i < ticks; ++i) Tick();
  }

  ObjectTable table;
  GatewayState state;
  FakeConsoleExchange console;
  int pumps = 0;
  std::function<void()> on_pump = [] {};
  int write_failures = 0;
  std::function<void()> on_write_failure = [] {};
  std::vector<std::string> statuses;
  TestSupervision supervision{table, state, console,
                              SupervisionHooks{
                                  [this] {
                                    ++pumps;
                                    on_pump();
                                  },
                                  [this] {
                                    ++write_failures;
                                    on_write_failure();
                                  },
                                  [this](const std::string& text) { statuses.push_back(text); },
                              }};
};

class TestSupervisionTest : public ::testing::Test, protected Rig {};

TEST_F(TestSupervisionTest, DisconnectedTickTouchesOnlyTheCountAndTheStatusLine) {
  LoadObjects({{"0001", "000"}, {"0002", "FFF"}});
  state.SecondCounter = 59;
  const std::string before = table.Text();
  EXPECT_TRUE(Tick(false, 3));
  EXPECT_EQ(std::vector<std::string>{"COM1, 0.0.0.0, 5551, соединений: 3"}, statuses);
  EXPECT_EQ(3, state.ConnectionCount);
  EXPECT_EQ(59, state.SecondCounter);
  EXPECT_EQ(before, table.Text());
  EXPECT_EQ(0, console.BeginCount());
  EXPECT_EQ(0, pumps);
}

TEST_F(TestSupervisionTest, EmptyTableStillShowsStatusAndCountsSeconds) {
  for (int tick = 1; tick <= 59; ++tick) {
    EXPECT_TRUE(Tick(true, tick % 4));
    EXPECT_EQ(tick, state.SecondCounter);
    EXPECT_EQ(tick % 4, state.ConnectionCount);
  }
  Tick(true, 0);
  EXPECT_EQ(0, state.SecondCounter);
  EXPECT_EQ(60u, statuses.size());
  EXPECT_EQ("COM1, 0.0.0.0, 5551, соединений: 0", statuses.back());
  EXPECT_EQ(0, console.BeginCount());
}

TEST_F(TestSupervisionTest, FirstAdvanceComesInTheSixtiethConnectedTick) {
  LoadObjects({{"0001", "FFF"}});
  for (int tick = 1; tick <= 59; ++tick) {
    Tick();
    Tick(false);  // disconnected ticks move nothing
  }
  EXPECT_EQ("000", Counter(0));
  EXPECT_EQ(59, state.SecondCounter);
  Tick();
  EXPECT_EQ("001", Counter(0));
  TickTimes(59);
  EXPECT_EQ("001", Counter(0));
  Tick();
  EXPECT_EQ("002", Counter(0));
}

TEST(TestSupervision, LimitIsReachedAfterItsHexadecimalNumberOfMinutes) {
  struct Case {
    const char* limit;
    int minutes;
  };
  for (const Case& c : {Case{"001", 1}, Case{"03C", 60}, Case{"180", 384}}) {
    SCOPED_TRACE(c.limit);
    Rig rig;
    rig.LoadObjects({{"0001", c.limit}});
    rig.TickTimes(60 * c.minutes);
    EXPECT_EQ(c.limit, rig.Counter(0));
    EXPECT_TRUE(rig.console.Written().empty()) << HexPairs(rig.console.Written());
    rig.console.QueueReply(kAcknowledgement);
    rig.Tick();
    EXPECT_EQ(kFault0001, rig.console.Written());
    EXPECT_EQ("001", rig.State(0));
  }
}

TEST(TestSupervision, LimitThatIsNotUpperCaseHexadecimalIsNeverReached) {
  // The counter runs through every value to "FFF" and goes on from "100".
  for (const char* limit : {"0a0", "0G0", "   ", "FF "}) {
    SCOPED_TRACE(limit);
    Rig rig;
    rig.LoadObjects({{"0001", limit}});
    for (int minute = 1; minute <= 4096; ++minute) {
      rig.state.SecondCounter = 59;
      rig.Tick();
    }
    EXPECT_EQ("100", rig.Counter(0));
    EXPECT_EQ("000", rig.State(0));
    EXPECT_EQ(0, rig.console.BeginCount());
  }
}

TEST_F(TestSupervisionTest, LimitZeroAlternatesFaultAndRestoreWhileAcknowledged) {
  LoadObjects({{"0001", "000"}});
  state.SecondCounter = 58;
  for (int i = 0; i < 4; ++i) console.QueueReply(kAcknowledgement);
  TickTimes(4);
  EXPECT_EQ((std::vector<Bytes>{kFault0001, kRestore0001, kFault0001, kRestore0001}),
            console.SessionWrites());
  EXPECT_EQ("000", Counter(0));
  EXPECT_EQ("000", State(0));
  EXPECT_FALSE(console.Overlapped());
}

TEST(TestSupervision, FramesCarryTheRecordsObjectBytes) {
  struct Case {
    const char* object;
    bool restore;
    Bytes frame;
  };
  const std::vector<Case> cases = {
      {"0001", false, kFault0001},
      {"0001", true, kRestore0001},
      {"1234", false, kFault1234},
      {"0000", false, kFault0001},  // 0000 counts as 0001
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.object);
    Rig rig;
    rig.LoadObjects({{c.object, "0F0"}});
    if (c.restore) {
      rig.SetRecord(0, "000", "001");
    } else {
      rig.SetRecord(0, "0F0", "000");
    }
    rig.Tick();
    EXPECT_EQ(c.frame, rig.console.Written()) << HexPairs(rig.console.Written());
  }
}

TEST(TestSupervision, OnlyAFourByteReplyChangesTheFaultState) {
  struct Case {
    const char* name;
    std::function<void(FakeConsoleExchange&)> script;
    bool acknowledged;
    std::size_t reads;
  };
  const std::vector<Case> cases = {
      {"any four bytes",
       [](FakeConsoleExchange& c) {
         c.QueueReply({0, 0, 0, 0});
       },
       true, 1},
      {"three bytes",
       [](FakeConsoleExchange& c) {
         c.QueueReply({1, 2, 3});
       },
       false, 1},
      {"five bytes",
       [](FakeConsoleExchange& c) {
         c.QueueReply({1, 2, 3, 4, 5});
       },
       false, 1},
      {"four bytes on the third attempt",
       [](FakeConsoleExchange& c) {
         c.QueueReply({});
         c.QueueReply({});
         c.QueueReply(kAcknowledgement);
       },
       true, 3},
      {"nothing in fifty attempts", [](FakeConsoleExchange&) {}, false, 50},
      {"failed read", [](FakeConsoleExchange& c) { c.QueueReadFailure(); }, false, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig;
    rig.LoadObjects({{"0001", "000"}});
    c.script(rig.console);
    rig.Tick();
    EXPECT_EQ(kFault0001, rig.console.Written());
    EXPECT_EQ(std::vector<int>(c.reads, 100), rig.console.ReadMaxima());
    EXPECT_EQ(c.acknowledged ? "001" : "000", rig.State(0));
    EXPECT_EQ("000", rig.Counter(0));
    EXPECT_EQ(0, rig.state.SupervisionExchangeActive.Get());
  }
}

TEST_F(TestSupervisionTest, ReplyOfTwoPlusTwoBytesInTwoReadsDoesNotAcknowledge) {
  LoadObjects({{"0001", "000"}});
  console.QueueReply({0x01, 0x02});
  console.QueueReply({0x03, 0x04});
  Tick();
  EXPECT_EQ("000", State(0));
  EXPECT_EQ(1u, console.ReadMaxima().size());
  // The frame goes out again; the late half is read as that frame's reply and fails it too.
  Tick();
  EXPECT_EQ((std::vector<Bytes>{kFault0001, kFault0001}), console.SessionWrites());
  EXPECT_EQ("000", State(0));
}

TEST_F(TestSupervisionTest, ObjectHeardWhileItsFaultIsDueGoesBackToCountingWithoutRestore) {
  LoadObjects({{"0001", "001"}});
  TickTimes(60);
  Tick();  // fault frame, not acknowledged; SecondCounter is now 1
  EXPECT_EQ(kFault0001, console.Written());
  table.ResetCounter("0001");
  TickTimes(58);
  EXPECT_EQ(kFault0001, console.Written());
  EXPECT_EQ("000", Counter(0));
  EXPECT_EQ("000", State(0));
  Tick();  // the advance at SecondCounter 59 makes it due again: a fault once more, no restore
  EXPECT_EQ("001", Counter(0));
  Tick();
  EXPECT_EQ((std::vector<Bytes>{kFault0001, kFault0001}), console.SessionWrites());
}

TEST_F(TestSupervisionTest, ReportedFaultWaitsForItsObjectThenRestores) {
  LoadObjects({{"0001", "001"}});
  TickTimes(60);
  console.QueueReply(kAcknowledgement);
  Tick();
  EXPECT_EQ("001", State(0));
  TickTimes(150);  // passes SecondCounter 59 twice: neither counting nor sending
  EXPECT_EQ("001", Counter(0));
  EXPECT_EQ(1u, console.SessionWrites().size());
  table.ResetCounter("0001");
  console.QueueReply(kAcknowledgement);
  Tick();
  EXPECT_EQ((std::vector<Bytes>{kFault0001, kRestore0001}), console.SessionWrites());
  EXPECT_EQ("000", State(0));
  EXPECT_EQ("000", Counter(0));
}

TEST_F(TestSupervisionTest, MessageArrivingDuringAnAcknowledgedFaultIsKept) {
  // A reset that lands while the tick waits for the console's reply must survive the
  // acknowledgement, so the restore follows at the next tick.
  LoadObjects({{"0001", "005"}});
  SetRecord(0, "005", "000");
  on_pump = [&] {
    if (state.SupervisionExchangeActive.Get() == 1) {
      table.ResetCounter("0001");
      console.QueueReply(kAcknowledgement);
    }
  };
  Tick();
  EXPECT_EQ("001", State(0));
  EXPECT_EQ("000", Counter(0));
  on_pump = [] {};
  console.QueueReply(kAcknowledgement);
  Tick();
  EXPECT_EQ((std::vector<Bytes>{kFault0001, kRestore0001}), console.SessionWrites());
  EXPECT_EQ("000", State(0));
}

TEST_F(TestSupervisionTest, RecordsOfOneObjectEachSendTheirOwnFrames) {
  LoadObjects({{"0001", "000"}, {"1234", "FFF"}, {"0001", "000"}});
  for (int i = 0; i < 2; ++i) console.QueueReply(kAcknowledgement);
  Tick();
  EXPECT_EQ((std::vector<Bytes>{kFault0001, kFault0001}), console.SessionWrites());
  EXPECT_EQ("001", State(0));
  EXPECT_EQ("001", State(2));
  for (int i = 0; i < 2; ++i) console.QueueReply(kAcknowledgement);
  Tick();
  EXPECT_EQ(4u, console.SessionWrites().size());
  EXPECT_EQ(kRestore0001, console.SessionWrites()[3]);
  EXPECT_EQ("000", State(0));
  EXPECT_EQ("000", State(2));
}

TEST_F(TestSupervisionTest, ExchangeFlagIsUpOnlyWhileAFrameAwaitsItsReply) {
  LoadObjects({{"0001", "000"}, {"0002", "FFF"}});
  std::vector<int> seen;
  on_pump = [&] { seen.push_back(state.SupervisionExchangeActive.Get()); };
  console.QueueReply({});
  console.QueueReadFailure();
  Tick();
  // Record 1's turn, two wait attempts (the second read fails), record 2's turn.
  EXPECT_EQ((std::vector<int>{0, 1, 1, 0}), seen);
  EXPECT_EQ(0, state.SupervisionExchangeActive.Get());
  EXPECT_FALSE(console.SessionHeld());
}

TEST_F(TestSupervisionTest, RefusedExchangeLeavesTheRecordDueForTheNextTick) {
  LoadObjects({{"0001", "000"}});
  console.RefuseExchanges(1);
  std::vector<int> flags;
  on_pump = [&] { flags.push_back(state.SupervisionExchangeActive.Get()); };
  Tick();
  EXPECT_TRUE(console.Written().empty());
  EXPECT_EQ((std::vector<int>{0}), flags);
  EXPECT_EQ("0001000000000", table.Text());
  EXPECT_EQ(1, state.SecondCounter);
  console.QueueReply(kAcknowledgement);
  Tick();
  EXPECT_EQ(kFault0001, console.Written());
  EXPECT_EQ("001", State(0));
}

TEST_F(TestSupervisionTest, WriteFailureRunsTheHandlingOncePerFrameWithThePortReleased) {
  LoadObjects({{"0001", "000"}, {"0002", "000"}, {"0003", "FFF"}});
  state.SecondCounter = 59;
  console.FailWrite(0);
  std::vector<bool> held_during_handling;
  on_write_failure = [&] {
    held_during_handling.push_back(console.SessionHeld());
    console.ClosePort();  // what the handling leaves: every later write and read fails
  };
  EXPECT_TRUE(Tick());
  EXPECT_EQ(2, write_failures);
  EXPECT_EQ((std::vector<bool>{false, false}), held_during_handling);
  EXPECT_FALSE(console.Overlapped());
  // Each frame: the session of the failed write, then a new one whose read fails at once.
  EXPECT_EQ(4, console.BeginCount());
  EXPECT_EQ((std::vector<int>{100, 100}), console.ReadMaxima());
  EXPECT_TRUE(console.Written().empty());
  EXPECT_EQ("000", State(0));
  EXPECT_EQ("000", State(1));
  EXPECT_EQ("001", Counter(2));  // the remaining records still had their turn
  EXPECT_EQ(0, state.SecondCounter);
  EXPECT_EQ(0, state.SupervisionExchangeActive.Get());
}

TEST_F(TestSupervisionTest, WriteFailureMidFrameSendsNoMoreOfThatFrame) {
  LoadObjects({{"0001", "000"}});
  console.FailWrite(3);
  on_write_failure = [&] { console.ClosePort(); };
  Tick();
  EXPECT_EQ(1, write_failures);
  EXPECT_EQ((std::vector<Bytes>{{0x1E, 0x05, 0x02}, {}}), console.SessionWrites());
  EXPECT_EQ("000", State(0));
}

TEST_F(TestSupervisionTest, ReenteredTickIsSkippedEntirely) {
  LoadObjects({{"0001", "FFF"}});
  std::vector<bool> inner_results;
  on_pump = [&] { inner_results.push_back(Tick(true, 7)); };
  EXPECT_TRUE(Tick(true, 2));
  EXPECT_EQ(std::vector<bool>{false}, inner_results);
  EXPECT_EQ(1u, statuses.size());
  EXPECT_EQ(2, state.ConnectionCount);
  EXPECT_EQ(1, state.SecondCounter);
  on_pump = [] {};
  EXPECT_TRUE(Tick());
  EXPECT_EQ(2, state.SecondCounter);
}

TEST_F(TestSupervisionTest, FailingHookLeavesNoTickRunningAndNoFlagRaised) {
  LoadObjects({{"0001", "000"}});
  console.FailWrite(0);
  on_write_failure = [] { throw std::runtime_error("dialog failed"); };
  EXPECT_THROW(Tick(), std::runtime_error);
  EXPECT_EQ(0, state.SupervisionExchangeActive.Get());
  EXPECT_FALSE(console.SessionHeld());
  on_write_failure = [] {};
  console.QueueReply(kAcknowledgement);
  EXPECT_TRUE(Tick());
  EXPECT_EQ("001", State(0));
}

TEST_F(TestSupervisionTest, RecordWithoutADecimalObjectNumberTakesNoPart) {
  LoadObjects({{"12a4", "000"}, {" 123", "000"}, {"+123", "FFF"}, {"0001", "000"}});
  state.SecondCounter = 59;
  console.QueueReply(kAcknowledgement);
  Tick();
  EXPECT_EQ(kFault0001, console.Written());
  EXPECT_EQ(
      "12a4000000000"
      " 123000000000"
      "+123000000FFF"
      "0001000001000",
      table.Text());
}

TEST(AdvanceCounter, MovesOnlyInTheLastSecondOfAMinute) {
  struct Case {
    const char* counter;
    int second_counter;
    const char* advanced;
  };
  const std::vector<Case> cases = {
      {"000", 0, "000"},  {"000", 58, "000"}, {"000", 59, "001"}, {"009", 59, "00A"},
      {"0FF", 59, "100"}, {"FFE", 59, "FFF"}, {"FFF", 59, "100"}, {"FFF", 58, "FFF"},
      {"0a0", 59, "0A1"},  // a foreign lower-case counter still reads as hexadecimal
      {"0G0", 59, "001"},  // not hexadecimal: starts again from zero
      {"0G0", 0, "000"},  {" 12", 59, "001"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.advanced, AdvanceCounter(c.counter, c.second_counter))
        << c.counter << " at second " << c.second_counter;
  }
}

TEST(TestSupervisionHooks, EveryHookIsRequired) {
  ObjectTable table;
  GatewayState state;
  FakeConsoleExchange console;
  auto nothing = [] {};
  auto show = [](const std::string&) {};
  EXPECT_THROW(TestSupervision(table, state, console, {nullptr, nothing, show}),
               std::invalid_argument);
  EXPECT_THROW(TestSupervision(table, state, console, {nothing, nullptr, show}),
               std::invalid_argument);
  EXPECT_THROW(TestSupervision(table, state, console, {nothing, nothing, nullptr}),
               std::invalid_argument);
}

}  // namespace
}  // namespace gateway
