#include "supervision/link_test.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "frames/conversion_error.h"
#include "supervision/fake_console_exchange.h"

namespace gateway {
namespace {

const Bytes kLinkTest = {0x1E, 0x01, 0x01, 0x24};
const Bytes kSecondLinkTest = {0x1E, 0x01, 0x03, 0x98};

Bytes Concat(const Bytes& a, const Bytes& b) {
  Bytes all = a;
  all.insert(all.end(), b.begin(), b.end());
  return all;
}

TEST(DecideHeartbeatInterval, NumbersSetTheIntervalAndOtherTextsKeepIt) {
  using Action = HeartbeatInterval::Action;
  struct Case {
    const char* text;
    int current;
    HeartbeatInterval decision;
  };
  const std::vector<Case> cases = {
      {"11234", 3000, {Action::kRestart, 11234}},
      {"11234", 11234, {Action::kKeep, 0}},
      {"00100", 3000, {Action::kRestart, 100}},
      {"1", 11234, {Action::kRestart, 1}},  // below 249 is used as it is until the next start
      {"0", 11234, {Action::kStop, 0}},
      {"", 3000, {Action::kKeep, 0}},
      {"12a", 3000, {Action::kKeep, 0}},
      {" 100", 3000, {Action::kKeep, 0}},
      {"-100", 3000, {Action::kKeep, 0}},
  };
  for (const Case& c : cases) {
    const HeartbeatInterval got = DecideHeartbeatInterval(c.text, c.current);
    EXPECT_EQ(c.decision, got) << "'" << c.text << "' at " << c.current << ": action "
                               << static_cast<int>(got.action) << ", " << got.interval_ms;
  }
}

TEST(LinkTestPeriodAtStart, ShortPeriodsBecome12345AndNonNumbersThrow) {
  EXPECT_EQ("12345", LinkTestPeriodAtStart("248"));
  EXPECT_EQ("12345", LinkTestPeriodAtStart("0"));
  EXPECT_EQ("249", LinkTestPeriodAtStart("249"));
  EXPECT_EQ("11234", LinkTestPeriodAtStart("11234"));
  EXPECT_THROW(LinkTestPeriodAtStart(""), ConversionError);
  EXPECT_THROW(LinkTestPeriodAtStart("12a"), ConversionError);
}

TEST(LinkTestRun, ReplyDecidesPassedAndTheSecondFrame) {
  struct Case {
    const char* name;
    Bytes reply;
    int passed_before;
    int passed_after;
    bool second_frame;
  };
  const std::vector<Case> cases = {
      {"nothing", {}, -1, 0, false},
      {"1 byte", {0x06}, 0, -1, true},
      {"3 bytes", {1, 2, 3}, 0, -1, true},
      {"4 bytes", {1, 2, 3, 4}, 0, -1, false},
      {"5 bytes", {1, 2, 3, 4, 5}, 0, -1, true},
      {"60 bytes, read as 50", Bytes(60, 0x33), 0, -1, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    GatewayState state;
    FakeConsoleExchange console;
    LinkTest link_test(state, console);
    state.LinkTestPassed = c.passed_before;
    state.LinkTestReply.Set({0xEE});
    console.QueueReply(c.reply);
    link_test.Run(true, true);
    EXPECT_EQ(c.passed_after, state.LinkTestPassed);
    EXPECT_EQ(std::vector<int>{50}, console.ReadMaxima());
    const Bytes expected_reply(c.reply.begin(),
                               c.reply.begin() + std::min<std::ptrdiff_t>(50, c.reply.size()));
    EXPECT_EQ(expected_reply, state.LinkTestReply.Get());
    // The whole test, second frame included, is one exchange.
    EXPECT_EQ(std::vector<Bytes>{c.second_frame ? Concat(kLinkTest, kSecondLinkTest) : kLinkTest},
              console.SessionWrites());
    EXPECT_FALSE(console.SessionHeld());
  }
}

TEST(LinkTestRun, SendsNothingWhenHeldBack) {
  struct Case {
    const char* name;
    bool connected;
    bool enabled;
    std::function<void(GatewayState&, FakeConsoleExchange&)> arrange;
    int ensure_open_calls;
  };
  const auto nothing = [](GatewayState&, FakeConsoleExchange&) {};
  const std::vector<Case> cases = {
      {"not connected", false, true, nothing, 0},
      {"port does not count as open", true, true,
       [](GatewayState&, FakeConsoleExchange& c) { c.SetEnsureOpen(false); }, 1},
      {"switched off, after the port is made sure of", true, false, nothing, 1},
      {"supervision exchange", true, true,
       [](GatewayState& s, FakeConsoleExchange&) { s.SupervisionExchangeActive.Set(1); }, 1},
      {"network exchange", true, true,
       [](GatewayState& s, FakeConsoleExchange&) { s.NetworkExchangeActive = 1; }, 1},
      {"reserve exchange", true, true,
       [](GatewayState& s, FakeConsoleExchange&) { s.ReserveExchangeActive = 1; }, 1},
      {"port held by the main thread", true, true,
       [](GatewayState&, FakeConsoleExchange& c) { c.RefuseExchanges(1); }, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (int passed : {0, -1}) {
      GatewayState state;
      FakeConsoleExchange console;
      LinkTest link_test(state, console);
      state.LinkTestPassed = passed;
      console.QueueReply({1, 2, 3, 4});
      c.arrange(state, console);
      link_test.Run(c.connected, c.enabled);
      EXPECT_EQ(passed, state.LinkTestPassed);
      EXPECT_TRUE(console.Written().empty());
      EXPECT_TRUE(console.ReadMaxima().empty());
      EXPECT_EQ(c.ensure_open_calls, console.EnsureOpenCount());
    }
  }
}

TEST(LinkTestRun, PortThatCannotBeOpenedFailsTheTick) {
  GatewayState state;
  FakeConsoleExchange console;
  LinkTest link_test(state, console);
  console.SetEnsureOpen(false, "Порт занят другой программой");
  try {
    link_test.Run(true, true);
    FAIL() << "the open failure was swallowed";
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ("Порт занят другой программой", error.what());
  }
  EXPECT_EQ(0, console.BeginCount());
}

TEST(LinkTestRun, ConsoleFailuresEndTheTickQuietly) {
  struct Case {
    const char* name;
    std::function<void(FakeConsoleExchange&)> arrange;
    int passed_after;  // LinkTestPassed was -1 before the tick
    Bytes written;
  };
  const std::vector<Case> cases = {
      {"first write of the frame", [](FakeConsoleExchange& c) { c.FailWrite(0); }, -1, {}},
      {"last write of the frame",
       [](FakeConsoleExchange& c) { c.FailWrite(3); },
       -1,
       {0x1E, 0x01, 0x01}},
      {"the read", [](FakeConsoleExchange& c) { c.QueueReadFailure(); }, -1, kLinkTest},
      {"the second frame",
       [](FakeConsoleExchange& c) {
         c.QueueReply({1, 2, 3});
         c.FailWrite(5);
       },
       0, Concat(kLinkTest, {0x1E})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    GatewayState state;
    FakeConsoleExchange console;
    LinkTest link_test(state, console);
    state.LinkTestPassed = -1;
    c.arrange(console);
    EXPECT_NO_THROW(link_test.Run(true, true));
    EXPECT_EQ(c.passed_after, state.LinkTestPassed);
    EXPECT_EQ(c.written, console.Written());
    EXPECT_FALSE(console.SessionHeld());
  }
}

}  // namespace
}  // namespace gateway
