// Console faults: the console's end of the line goes away, a new console comes on the same link,
// and the operator's Connect brings the running gateway back to acknowledging. The gateway shows
// its window on a private X display, where the operator's part (dismissing the dialogs,
// Connect) is played with xdotool as a person would play it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "e2e/dev_link.h"
#include "e2e/gateway_process.h"
#include "e2e/scripted_console.h"
#include "e2e/station.h"
#include "e2e/traffic_scale.h"
#include "e2e/virtual_display.h"
#include "fixtures/pty_pair.h"

namespace gateway::e2e {
namespace {

using namespace std::chrono_literals;

constexpr auto kPatience = 20s;
const char kWindowTitle[] = "Zorvan_Server";
// Centres of the buttons in the window's client area.
constexpr int kConnectX = 48, kConnectY = 14;

std::string Line(int account) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "%04d", account);
  return ReceiverLine(digits, "E130", "01", "005");
}

ReplyRule AlwaysAcknowledge() {
  return [](const Bytes&) { return Reply{}; };
}

class ConsoleFaultE2eTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!CanPlaceDevLinks()) GTEST_SKIP() << "needs root: the consoles are linked into /dev";
    ASSERT_TRUE(DisplayToolsInstalled()) << "needs xvfb, openbox, xdotool and x11-utils";
    DevLink::RemoveLeftovers();
    display_ = std::make_unique<VirtualDisplay>();
    link_ = DevLink::UniqueName();
    console_ = std::make_unique<ScriptedConsole>(link_, AlwaysAcknowledge());
  }

  void TearDown() override {
    if (!gateway_) return;
    for (const std::string& report : gateway_->SanitizerReports()) ADD_FAILURE() << report;
    EXPECT_EQ(gateway_->Stop(), "") << "the gateway ended by itself; output:\n"
                                    << gateway_->Output();
  }

  void StartGateway(const std::string& reserve_port = "", const std::string& reserve_device = "") {
    GatewayOptions options;
    options.program = GATEWAY_PROGRAM;
    options.console_port = console_->PortName();
    options.console_device = console_->SlavePath();
    options.reserve_port = reserve_port;
    options.reserve_device = reserve_device;
    options.platform = "xcb";
    options.environment = {display_->Environment()};
    gateway_ = std::make_unique<GatewayProcess>(options);
  }

  std::string MainWindow() const {
    std::string window;
    Eventually(
        [&] {
          const std::vector<std::string> windows = display_->Windows(gateway_->pid(), kWindowTitle);
          if (!windows.empty()) window = windows.back();
          return !window.empty();
        },
        kPatience);
    return window;
  }

  Outcome SendOverNetwork(const std::string& line) {
    try {
      Peer peer(gateway_->port());
      if (!peer.Send(line)) return Outcome::kError;
      bool closed = false;
      const std::string reply = peer.AwaitReply(5s, closed);
      return Judge(reply, closed);
    } catch (const std::runtime_error&) {
      return Outcome::kError;
    }
  }

  // A good line that must be acknowledged; sent once more, on the next account, when the
  // console was held up meanwhile and its answer may have come too late for the gateway.
  Outcome SendGoodLine(int& account) {
    Outcome outcome = Outcome::kError;
    for (int attempt = 0; attempt < 2; ++attempt) {
      const auto from = Clock::now();
      outcome = SendOverNetwork(Line(account++));
      if (outcome == Outcome::kAck || !console_->StalledWithin(from, Clock::now())) break;
    }
    return outcome;
  }

  // Presses OK on every Warning and Information box the gateway shows until it has stopped
  // listening and no box has come for a second. Returns the captions in the order dismissed.
  std::vector<std::string> DismissDialogsUntilDisconnected() {
    std::vector<std::string> dismissed;
    auto quiet_since = Clock::now();
    const bool done = Eventually(
        [&] {
          for (const char* caption : {"Warning", "Information"}) {
            const std::vector<std::string> boxes = display_->Windows(gateway_->pid(), caption);
            if (!boxes.empty()) {
              display_->PressKeys(boxes.back(), "Return");
              dismissed.push_back(caption);
              quiet_since = Clock::now();
              return false;
            }
          }
          return !gateway_->Listening() && Clock::now() - quiet_since > 1s;
        },
        kPatience);
    EXPECT_TRUE(done) << "the gateway did not disconnect; boxes dismissed: "
                      << ::testing::PrintToString(dismissed);
    return dismissed;
  }

  // The operator presses Connect; true once the gateway listens and holds the console's line
  // (and the modem's, when given).
  bool OperatorConnects(const std::string& modem_device = "") {
    EXPECT_TRUE(display_->Click(MainWindow(), kConnectX, kConnectY));
    return Eventually(
        [&] {
          return gateway_->Listening() && gateway_->Holds(console_->SlavePath()) &&
                 (modem_device.empty() || gateway_->Holds(modem_device));
        },
        kPatience);
  }

  // A new console on the same link, as when the console program is started again.
  void ReplaceConsole() {
    console_.reset();
    console_ = std::make_unique<ScriptedConsole>(link_, AlwaysAcknowledge());
  }

  std::unique_ptr<VirtualDisplay> display_;
  std::string link_;
  std::unique_ptr<ScriptedConsole> console_;
  std::unique_ptr<GatewayProcess> gateway_;
};

TEST_F(ConsoleFaultE2eTest, ConsoleVanishingInAnExchangeIsRecoveredByConnect) {
  StartGateway();
  const int cycles = Scaled(3, 1);
  int account = 1;
  const int descriptors_at_start = gateway_->DescriptorCount();
  std::vector<std::string> after_first_cycle;
  for (int cycle = 1; cycle <= cycles; ++cycle) {
    SCOPED_TRACE("cycle " + std::to_string(cycle));
    for (int i = 0; i < 3; ++i) ASSERT_EQ(SendGoodLine(account), Outcome::kAck);

    console_->VanishAtNextEventFrame();
    EXPECT_NE(SendOverNetwork(Line(account++)), Outcome::kAck);
    ASSERT_TRUE(console_->VanishedAt().has_value());
    // A line after it: the console is gone, nothing may be acknowledged.
    EXPECT_NE(SendOverNetwork(Line(account++)), Outcome::kAck);

    // Whether the frame's write or its reply read met the hung-up line, the gateway lets the
    // dead line go and disconnects by itself, with the dialogs of Disconnect.
    EXPECT_TRUE(Eventually([&] { return gateway_->TerminalDescriptors().empty(); }, kPatience))
        << "the dead line is still held: "
        << ::testing::PrintToString(gateway_->TerminalDescriptors());
    const std::vector<std::string> dialogs = DismissDialogsUntilDisconnected();
    ASSERT_FALSE(dialogs.empty());
    EXPECT_EQ(dialogs.back(), "Information");
    EXPECT_TRUE(gateway_->TerminalDescriptors().empty())
        << "the dead line is still held: "
        << ::testing::PrintToString(gateway_->TerminalDescriptors());

    ReplaceConsole();
    ASSERT_TRUE(OperatorConnects())
        << "descriptors: " << ::testing::PrintToString(gateway_->Descriptors());
    EXPECT_EQ(SendGoodLine(account), Outcome::kAck);
    EXPECT_EQ(gateway_->TerminalDescriptors().size(), 1u);
    // The first dialogs and reconnection set up what the window keeps for good; every later
    // fault must leave the same kinds of descriptors as the first one left (the listening
    // socket, its wake-up pipe and the line are new ones each time).
    std::vector<std::string> now = gateway_->Descriptors();
    for (std::string& target : now) {
      if (target.starts_with("/dev/pts/")) target = "/dev/pts/N";
      if (const auto open = target.find('['); open != std::string::npos) target.resize(open);
    }
    std::sort(now.begin(), now.end());
    if (cycle == 1) {
      after_first_cycle = now;
    } else {
      EXPECT_EQ(now, after_first_cycle);
    }
  }
  const int descriptors_at_end = gateway_->DescriptorCount();
  std::printf(
      "%d console faults noticed by the gateway and recovered without a restart"
      "; gateway descriptors %d at the start, %d at the end; threads %d\n",
      cycles, descriptors_at_start, descriptors_at_end, gateway_->ThreadCount());
}

// The console gone while both channels are in use: the gateway notices at its next exchange on
// the console (whichever channel makes it), disconnects by itself and stops staying on top. A
// modem message that comes meanwhile is never acknowledged unless the new console took it: if
// the reserve relay met the loss with it, the modem sends it again as with any message left
// without an answer; if it came after the disconnect, it waits in the line and is relayed once
// the operator has connected to the new console.
TEST_F(ConsoleFaultE2eTest, VanishedConsoleDisconnectsAndConnectRelaysWhatTheModemSentMeanwhile) {
  PtyPair modem;
  DevLink modem_link(DevLink::UniqueName(), modem.SlavePath());
  StartGateway(modem_link.name(), modem.SlavePath());
  const std::vector<std::uint8_t> kAck = {0x06};
  // What the modem gets back for a line from account `number`; the line goes once more, from
  // another account, when the console was held up meanwhile.
  const auto modem_sends = [&](int number) {
    std::vector<std::uint8_t> reply;
    for (int attempt = 0; attempt < 2; ++attempt) {
      const auto from = Clock::now();
      const std::string line = Line(number + 100 * attempt);
      modem.Write(std::vector<std::uint8_t>(line.begin(), line.end()));
      reply = modem.ReadFor(1500ms);
      if (reply == kAck || !console_->StalledWithin(from, Clock::now())) break;
    }
    return reply;
  };

  int account = 10;
  EXPECT_EQ(modem_sends(1), kAck);
  EXPECT_EQ(SendGoodLine(account), Outcome::kAck);
  const std::string window = MainWindow();
  EXPECT_TRUE(display_->StaysOnTop(window));

  console_->VanishNow();
  ASSERT_TRUE(Eventually([&] { return console_->VanishedAt().has_value(); }, kPatience));
  // The communicator's connection ending, a link test, or a modem message: the next exchange
  // on the console meets the hung-up line.
  const std::vector<std::uint8_t> meanwhile = modem_sends(3);
  const std::vector<std::string> dialogs = DismissDialogsUntilDisconnected();
  ASSERT_FALSE(dialogs.empty());
  EXPECT_EQ(dialogs.back(), "Information");
  EXPECT_TRUE(gateway_->TerminalDescriptors().empty())
      << ::testing::PrintToString(gateway_->TerminalDescriptors());
  EXPECT_FALSE(display_->StaysOnTop(MainWindow())) << "still on top after the console went";

  ReplaceConsole();
  ASSERT_TRUE(OperatorConnects(modem.SlavePath()))
      << "descriptors: " << ::testing::PrintToString(gateway_->Descriptors());
  EXPECT_TRUE(meanwhile.empty()) << "acknowledged with no console: "
                                 << ::testing::PrintToString(meanwhile);
  const std::vector<std::uint8_t> after_connect = modem.ReadFor(1500ms);
  EXPECT_TRUE(after_connect.empty() || after_connect == kAck)
      << ::testing::PrintToString(after_connect);
  EXPECT_EQ(modem_sends(4), kAck);
  EXPECT_EQ(SendGoodLine(account), Outcome::kAck);
  std::printf(
      "console gone: the gateway disconnected by itself (boxes: %s); the modem's message sent "
      "meanwhile %s; after Connect both channels acknowledge again\n",
      ::testing::PrintToString(dialogs).c_str(),
      after_connect.empty() ? "met the loss unacknowledged" : "was relayed after the Connect");
}

}  // namespace
}  // namespace gateway::e2e
