#include "channels/network_relay.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "fixtures/answering_console.h"
#include "fixtures/eventually.h"
#include "fixtures/loopback_client.h"
#include "fixtures/pty_pair.h"
#include "frames/bytes.h"

namespace gateway {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Frame = AnsweringConsole::Frame;

// Reached only when something is broken.
constexpr auto kPatience = 10s;
// How long the tests listen to be sure that nothing comes: longer than a whole relay turn.
constexpr auto kQuiet = 300ms;

const std::string kAck("\x06", 1);
const std::string kPoll("\x07\x00", 2);

// A receiver line of receiver 01, line 0, group 01, ended by DC4.
std::string Line(const std::string& account, const std::string& code = "E130",
                 const std::string& zone = "005") {
  return "5010 18" + account + code + "01" + zone + "\x14";
}

// Records the accounts whose counters the translation resets, and can hold a translation at
// that point (after the preliminary read, before the frame is written) until released.
class HeldReset : public CounterReset {
 public:
  void ResetCounter(std::string_view account) override {
    std::unique_lock lock(mutex_);
    accounts_.emplace_back(account);
    if (!hold_) return;
    held_ = true;
    changed_.notify_all();
    changed_.wait_for(lock, kPatience, [&] { return !hold_; });
  }
  void Hold() {
    std::lock_guard lock(mutex_);
    hold_ = true;
  }
  bool WaitHeld() {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, kPatience, [&] { return held_; });
  }
  void Release() {
    {
      std::lock_guard lock(mutex_);
      hold_ = false;
    }
    changed_.notify_all();
  }
  std::vector<std::string> Accounts() const {
    std::lock_guard lock(mutex_);
    return accounts_;
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool hold_ = false;
  bool held_ = false;
  std::vector<std::string> accounts_;
};

// The frame the console should receive for `line`.
Frame FrameFor(const std::string& line) {
  HeldReset ignored;
  return TranslateEvent(line, ignored);
}

// The relay on a loopback server, with the test's console on a pseudo-terminal.
class NetworkRelayTest : public testing::Test {
 protected:
  NetworkRelayTest() {
    link_.SetPortName(pty_.PortName());
    link_.Open();
    server_.SetBinding("127.0.0.1", 0);
    server_.Activate();
  }
  ~NetworkRelayTest() override { heard_.Release(); }

  std::unique_ptr<LoopbackClient> Connect() {
    return std::make_unique<LoopbackClient>(server_.LocalPort());
  }

  // The line is sent and the relay has stored it, so it was read as one buffer.
  void SendAndWaitRead(LoopbackClient& client, const std::string& bytes) {
    client.Send(bytes);
    ASSERT_TRUE(Eventually([&] { return state_.LastNetworkMessage.Get() == bytes; }));
  }

  // A closed peer's last turn reads an empty buffer and stores it as the last message; waiting
  // for the connection to end keeps that from landing on top of the next connection's line.
  void HangUp(std::unique_ptr<LoopbackClient>& client) {
    client.reset();
    ASSERT_TRUE(Eventually([&] { return server_.ConnectionCount() == 0; }));
  }

  // The relay clears the flag after its reply or close reaches the peer, so the peer may
  // see the end of the turn a moment before the flag does.
  bool ExchangeFlagClears() {
    return Eventually([&] { return state_.NetworkExchangeActive.load() == 0; });
  }

  PtyPair pty_;
  AnsweringConsole console_{pty_};
  ConsoleLink link_;
  GatewayState state_;
  HeldReset heard_;
  PollRequest poll_;
  std::atomic<int> write_failure_requests_{0};
  std::atomic<int> connect_calls_{0};
  std::atomic<int> execute_calls_{0};
  NetworkRelay relay_{state_, heard_, link_, poll_, [this] { ++write_failure_requests_; }};
  // Last, so that it stops first: no relay runs once the rest goes.
  TcpServer server_{TcpHandlers{
      [this](TcpConnection&) {
        CapConnections(server_, state_.ConnectionCount.load());
        ++connect_calls_;
      },
      [this](TcpConnection& connection) {
        ++execute_calls_;
        relay_.Execute(connection);
      },
      nullptr,
  }};
};

TEST_F(NetworkRelayTest, LineInOneSegmentReachesTheConsoleAndIsAcknowledgedWithOneByte) {
  const std::string line = Line("1234");
  std::unique_ptr<LoopbackClient> client = Connect();
  client->Send(line);
  EXPECT_EQ(client->Receive(1, kPatience), kAck);
  EXPECT_EQ(client->Receive(1, kQuiet), "");
  const Frame kFrame = {0x1E, 0x06, 0x02, 0xD1, 0x04, 0x01, 0x50, 0x14, 0xB0};
  EXPECT_EQ(console_.Frames(), std::vector<Frame>{kFrame});
  EXPECT_EQ(console_.StrayBytes(), 0u);
  EXPECT_EQ(state_.LastNetworkMessage.Get(), line);
  EXPECT_TRUE(ExchangeFlagClears());
  EXPECT_EQ(heard_.Accounts(), std::vector<std::string>{"1234"});

  // The connection stays for the next line.
  client->Send(line);
  EXPECT_EQ(client->Receive(1, kPatience), kAck);
  EXPECT_EQ(console_.Frames().size(), 2u);
}

TEST_F(NetworkRelayTest, BuffersThatAreNotOneWholeLineAreDroppedSilently) {
  const std::string line = Line("1234");
  struct Case {
    const char* name;
    std::vector<std::string> buffers;  // each read on its own
  };
  const Case kCases[] = {
      {"split in two", {line.substr(0, 10), line.substr(10)}},
      {"two lines waiting together", {line + Line("0427")}},
      {"one byte too many", {line + "0"}},
  };
  std::size_t frames = 0;
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<LoopbackClient> client = Connect();
    for (const std::string& buffer : c.buffers) SendAndWaitRead(*client, buffer);
    // Replies keep their order: anything the dropped buffers caused would come first.
    client->Send(line);
    EXPECT_EQ(client->Receive(1, kPatience), kAck);
    EXPECT_EQ(console_.Frames().size(), ++frames);
    HangUp(client);
  }
  EXPECT_EQ(console_.StrayBytes(), 0u);
}

TEST_F(NetworkRelayTest, EventWithoutFrameIsAcknowledgedOnlyWhileTheLinkTestPasses) {
  const std::string untranslated = Line("1234", "E999", "001");
  struct Case {
    int link_test_passed;
    std::string expected;
  };
  for (const Case& c : {Case{0, ""}, Case{-1, kAck}, Case{1, kAck}}) {
    SCOPED_TRACE(c.link_test_passed);
    state_.LinkTestPassed = c.link_test_passed;
    std::unique_ptr<LoopbackClient> client = Connect();
    SendAndWaitRead(*client, untranslated);
    EXPECT_EQ(client->Receive(1, c.expected.empty() ? kQuiet : kPatience), c.expected);
    EXPECT_EQ(client->Receive(1, kQuiet), "");
    EXPECT_TRUE(ExchangeFlagClears());
    HangUp(client);
  }
  EXPECT_TRUE(console_.Frames().empty());
  EXPECT_EQ(console_.StrayBytes(), 0u);
  EXPECT_EQ(heard_.Accounts(), std::vector<std::string>(3, "1234"));
}

TEST_F(NetworkRelayTest, PollRequestAnswersItsAccountOnceWithThePollReply) {
  int consumed = 0;
  poll_.SetOnConsumed([&] { ++consumed; });
  poll_.Arm("0427");
  std::unique_ptr<LoopbackClient> client = Connect();

  client->Send(Line("1234"));
  EXPECT_EQ(client->Receive(1, kPatience), kAck);
  EXPECT_TRUE(poll_.Armed());

  client->Send(Line("0427"));
  EXPECT_EQ(client->Receive(2, kPatience), kPoll);
  EXPECT_FALSE(poll_.Armed());
  EXPECT_EQ(consumed, 1);

  client->Send(Line("0427"));
  EXPECT_EQ(client->Receive(1, kPatience), kAck);
  EXPECT_EQ(client->Receive(1, kQuiet), "");
  EXPECT_EQ(consumed, 1);
  EXPECT_EQ(console_.Frames().size(), 3u);
}

TEST_F(NetworkRelayTest, ReplyOfAnyLengthButFourSendsNothingAndKeepsThePollArmed) {
  poll_.Arm("0427");
  std::unique_ptr<LoopbackClient> client = Connect();
  const std::string line = Line("0427");
  std::size_t frames = 0;
  for (const Frame& reply : {Frame{}, Frame{1, 2, 3}, Frame{1, 2, 3, 4, 5}}) {
    SCOPED_TRACE(reply.size());
    console_.SetReply(reply);
    client->Send(line);
    ASSERT_TRUE(console_.WaitForFrames(++frames, kPatience));
    EXPECT_EQ(client->Receive(1, kQuiet), "");
    EXPECT_TRUE(poll_.Armed());
    EXPECT_TRUE(ExchangeFlagClears());
  }
  console_.SetReply({9, 9, 9, 9});
  client->Send(line);
  EXPECT_EQ(client->Receive(2, kPatience), kPoll);
}

TEST_F(NetworkRelayTest, AtTheCapEachNewConnectionClosesTheOldest) {
  std::vector<std::unique_ptr<LoopbackClient>> clients;
  for (int i = 0; i < kConnectionCap; ++i) {
    clients.push_back(Connect());
    // A few ahead of the server at most: a full backlog delays connections by a second.
    ASSERT_TRUE(Eventually([&] { return server_.ConnectionCount() > i - 8; }));
  }
  // Every cap check so far has run: a late one would see the count set below.
  ASSERT_TRUE(Eventually([&] { return connect_calls_ == kConnectionCap; }));

  state_.ConnectionCount = server_.ConnectionCount();  // as the supervision tick refreshes it
  clients.push_back(Connect());
  EXPECT_TRUE(clients[0]->WaitClosed(kPatience));
  // Gone from the list before the next one comes, or that one would close it again.
  ASSERT_TRUE(Eventually([&] { return server_.ConnectionCount() == kConnectionCap; }));
  EXPECT_FALSE(clients[1]->WaitClosed(kQuiet));
  clients.push_back(Connect());
  EXPECT_TRUE(clients[1]->WaitClosed(kPatience));
  ASSERT_TRUE(Eventually([&] { return server_.ConnectionCount() == kConnectionCap; }));

  state_.ConnectionCount = kConnectionCap - 1;
  clients.push_back(Connect());
  ASSERT_TRUE(Eventually([&] { return server_.ConnectionCount() == kConnectionCap + 1; }));
  EXPECT_FALSE(clients[2]->WaitClosed(kQuiet));

  // The survivors still relay.
  clients.back()->Send(Line("1234"));
  EXPECT_EQ(clients.back()->Receive(1, kPatience), kAck);
}

TEST_F(NetworkRelayTest, CountLeftOverFromBeforeARestartClosesTheNewConnectionItself) {
  server_.Deactivate();
  server_.Activate();
  state_.ConnectionCount = kConnectionCap;  // not refreshed yet since the restart
  std::unique_ptr<LoopbackClient> client = Connect();
  std::string before_close;
  EXPECT_TRUE(client->WaitClosed(kPatience, &before_close));
  EXPECT_EQ(before_close, "");
}

TEST_F(NetworkRelayTest, PeerThatClosesLeavesLastNetworkMessageEmptyAfterOneConsoleRead) {
  std::unique_ptr<LoopbackClient> client = Connect();
  client->Send(Line("1234"));
  ASSERT_EQ(client->Receive(1, kPatience), kAck);
  ASSERT_EQ(state_.LastNetworkMessage.Get(), Line("1234"));

  // Bytes from the console outside any exchange: the empty buffer's preliminary read takes them.
  pty_.Write(Bytes{0xAA, 0xBB});
  client->Close();
  ASSERT_TRUE(Eventually([&] { return server_.ConnectionCount() == 0; }));
  EXPECT_EQ(state_.LastNetworkMessage.Get(), "");
  EXPECT_TRUE(ExchangeFlagClears());
  EXPECT_EQ(console_.Frames().size(), 1u);
  std::unique_ptr<ConsoleSession> session = link_.BeginExchange();
  ASSERT_NE(session, nullptr);
  EXPECT_EQ(session->Read(40), Bytes{});
}

TEST_F(NetworkRelayTest, ConversionErrorClosesTheConnectionWithoutReply) {
  const std::string line = Line("12A4");
  std::unique_ptr<LoopbackClient> client = Connect();
  client->Send(line);
  std::string before_close;
  EXPECT_TRUE(client->WaitClosed(kPatience, &before_close));
  EXPECT_EQ(before_close, "");
  EXPECT_EQ(state_.LastNetworkMessage.Get(), line);
  EXPECT_TRUE(ExchangeFlagClears());
  EXPECT_TRUE(console_.Frames().empty());
  EXPECT_EQ(console_.StrayBytes(), 0u);
}

TEST_F(NetworkRelayTest, WhileTheConsolePortIsClosedEveryBufferClosesItsConnection) {
  ASSERT_TRUE(link_.Close());
  for (const std::string& buffer : {Line("1234"), std::string("hello"), Line("12A4")}) {
    SCOPED_TRACE(buffer);
    std::unique_ptr<LoopbackClient> client = Connect();
    client->Send(buffer);
    std::string before_close;
    EXPECT_TRUE(client->WaitClosed(kPatience, &before_close));
    EXPECT_EQ(before_close, "");
    EXPECT_EQ(state_.LastNetworkMessage.Get(), buffer);
  }
  EXPECT_TRUE(ExchangeFlagClears());
  EXPECT_TRUE(console_.Frames().empty());
  EXPECT_EQ(write_failure_requests_, 0);
}

TEST_F(NetworkRelayTest, ConsoleWriteFailureAcknowledgesNothingAndAsksForTheHandlingOnce) {
  heard_.Hold();
  std::unique_ptr<LoopbackClient> first = Connect();
  first->Send(Line("1234"));
  ASSERT_TRUE(heard_.WaitHeld());  // the first relay holds the link, past its console read
  std::unique_ptr<LoopbackClient> second = Connect();
  SendAndWaitRead(*second, Line("0427"));  // the second waits for the link

  console_.Stop();
  pty_.CloseMaster();  // the console's line goes: every write on it fails
  heard_.Release();

  for (LoopbackClient* client : {first.get(), second.get()}) {
    std::string before_close;
    EXPECT_TRUE(client->WaitClosed(kPatience, &before_close));
    EXPECT_EQ(before_close, "");
  }
  EXPECT_EQ(write_failure_requests_, 1);
  EXPECT_FALSE(link_.IsOpen());
  EXPECT_TRUE(ExchangeFlagClears());
}

TEST_F(NetworkRelayTest, WaitsWithoutSpinningWhileASupervisionExchangeRuns) {
  state_.SupervisionExchangeActive.Set(1);
  std::unique_ptr<LoopbackClient> client = Connect();
  client->Send(Line("1234"));
  ASSERT_TRUE(Eventually([&] { return execute_calls_ >= 1; }));
  std::this_thread::sleep_for(kQuiet);
  EXPECT_EQ(execute_calls_, 1);
  EXPECT_EQ(state_.LastNetworkMessage.Get(), "");
  EXPECT_TRUE(console_.Frames().empty());

  state_.SupervisionExchangeActive.Set(0);
  EXPECT_EQ(client->Receive(1, kPatience), kAck);
  EXPECT_EQ(console_.Frames().size(), 1u);
}

TEST_F(NetworkRelayTest, StopEndsTheWaitForASupervisionExchange) {
  state_.SupervisionExchangeActive.Set(1);
  std::unique_ptr<LoopbackClient> client = Connect();
  ASSERT_TRUE(Eventually([&] { return execute_calls_ >= 1; }));
  const auto start = Clock::now();
  EXPECT_NO_THROW(server_.Deactivate());  // throws when a thread is still running after 5 s
  EXPECT_LT(Clock::now() - start, 4s);
  EXPECT_EQ(server_.ConnectionCount(), 0);
  EXPECT_TRUE(client->WaitClosed(kPatience));
}

TEST_F(NetworkRelayTest, ManyConnectionsAtOnceNeverInterleaveOnTheConsole) {
  constexpr int kClients = 8;
  constexpr int kLinesEach = 5;
  const std::string polled = "1003";
  poll_.Arm(polled);
  std::vector<std::string> accounts;
  std::set<Frame> expected_frames;
  for (int c = 0; c < kClients; ++c) {
    accounts.push_back(std::to_string(1001 + c));
    expected_frames.insert(FrameFor(Line(accounts.back())));
  }
  std::vector<std::vector<std::string>> replies(kClients);
  {
    std::vector<std::jthread> senders;
    for (int c = 0; c < kClients; ++c) {
      senders.emplace_back([&, c] {
        LoopbackClient client(server_.LocalPort());
        for (int i = 0; i < kLinesEach; ++i) {
          client.Send(Line(accounts[c]));
          std::string reply = client.Receive(1, kPatience);
          if (reply == "\x07") reply += client.Receive(1, kPatience);
          replies[c].push_back(reply);
        }
      });
    }
  }
  const std::vector<Frame> frames = console_.Frames();
  EXPECT_EQ(frames.size(), std::size_t{kClients * kLinesEach});
  for (const Frame& frame : frames) EXPECT_EQ(expected_frames.count(frame), 1u) << HexPairs(frame);
  EXPECT_EQ(console_.StrayBytes(), 0u);
  for (int c = 0; c < kClients; ++c) {
    SCOPED_TRACE(accounts[c]);
    const auto polls = std::count(replies[c].begin(), replies[c].end(), kPoll);
    const auto acks = std::count(replies[c].begin(), replies[c].end(), kAck);
    EXPECT_EQ(polls, accounts[c] == polled ? 1 : 0);
    EXPECT_EQ(acks + polls, kLinesEach);
  }
  EXPECT_FALSE(poll_.Armed());
}

}  // namespace
}  // namespace gateway
