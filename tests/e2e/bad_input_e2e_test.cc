// Bad input from the network: malformed buffers, floods of connections, peers that send nothing
// or close half of their connection. The gateway stays up, goes on acknowledging good lines
// meanwhile and afterwards, holds its connections at the cap, and is left with the descriptors
// and threads it had before.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "communicator-sim/receiver_line.h"
#include "e2e/dev_link.h"
#include "e2e/gateway_process.h"
#include "e2e/scripted_console.h"
#include "e2e/station.h"
#include "e2e/traffic_scale.h"
#include "frames/conversion_error.h"
#include "frames/receiver_message.h"
#include "frames/translate_event.h"

namespace gateway::e2e {
namespace {

using namespace std::chrono_literals;

// Upper bound of the waits for an answer; reached only when something is wrong, or while a
// flood of connections each takes its turn on the console port.
constexpr auto kPatience = 30s;
// How long a buffer that must go unanswered is watched before the end of the test looks again.
constexpr auto kWatch = 1500ms;
// The cap on live connections, and the pace at which the cap test opens them.
constexpr int kCap = 150;
constexpr auto kOpeningPace = 20ms;

class NoObjects : public CounterReset {
 public:
  void ResetCounter(std::string_view) override {}
};

// What the gateway must answer to one buffer on a fresh connection, with a console that
// acknowledges every frame and link tests that pass: nothing to a buffer it refuses, a closed
// connection when a numeric field does not convert, else the acknowledgement.
Outcome ExpectedOutcome(const std::string& buffer) {
  if (!IsAcceptableMessage(buffer)) return Outcome::kSilent;
  NoObjects objects;
  try {
    TranslateEvent(buffer, objects);
  } catch (const ConversionError&) {
    return Outcome::kClosed;
  }
  return Outcome::kAck;
}

// The first bytes of a buffer for a failure message; a 32 KiB buffer would drown it.
std::string Printable(const std::string& bytes) {
  constexpr std::size_t kShown = 48;
  std::string text = EscapeForDisplay(std::string_view(bytes).substr(0, kShown));
  if (bytes.size() > kShown) text += "... (" + std::to_string(bytes.size()) + " bytes)";
  return text;
}

std::string GoodLine(int account) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "%04d", account);
  return ReceiverLine(digits, "E130", "01", "005");
}

// A communicator that sends a good line every 100 ms all along, on one connection while the
// gateway keeps it, and notes when each answer came.
class Sentinel {
 public:
  struct Answer {
    Clock::time_point sent, at;
    Outcome outcome;
  };

  explicit Sentinel(int port) : thread_([this, port](std::stop_token stop) { Run(stop, port); }) {}
  ~Sentinel() { Stop(); }

  void Stop() {
    thread_.request_stop();
    if (thread_.joinable()) thread_.join();
  }
  std::vector<Answer> Answers() const {
    std::lock_guard lock(mutex_);
    return answers_;
  }
  int AcksBetween(Clock::time_point from, Clock::time_point to) const {
    const std::vector<Answer> answers = Answers();
    return static_cast<int>(std::count_if(answers.begin(), answers.end(), [&](const Answer& a) {
      return a.outcome == Outcome::kAck && a.at >= from && a.at <= to;
    }));
  }
  // Answers that are neither an acknowledgement nor, where `closing_allowed`, a connection the
  // gateway closed (before or after the line went out). Silence while the console was held up
  // is no fault of the gateway's: the console's answer came too late for it.
  std::vector<std::string> Wrong(bool closing_allowed, const ScriptedConsole& console) const {
    std::vector<std::string> wrong;
    for (const Answer& answer : Answers()) {
      if (answer.outcome == Outcome::kAck) continue;
      if (closing_allowed &&
          (answer.outcome == Outcome::kClosed || answer.outcome == Outcome::kError)) {
        continue;
      }
      if (answer.outcome == Outcome::kSilent && console.StalledWithin(answer.sent, answer.at)) {
        continue;
      }
      wrong.emplace_back(OutcomeName(answer.outcome));
    }
    return wrong;
  }

 private:
  void Run(std::stop_token stop, int port) {
    std::unique_ptr<Peer> peer;
    int account = 5000;
    while (!stop.stop_requested()) {
      try {
        if (!peer) peer = std::make_unique<Peer>(port);
      } catch (const std::runtime_error&) {
        std::this_thread::sleep_for(100ms);
        continue;
      }
      bool closed = false;
      const auto sent_at = Clock::now();
      const bool sent = peer->Send(GoodLine(account++));
      const std::string reply = sent ? peer->AwaitReply(kPatience, closed) : "";
      const Outcome outcome = sent ? Judge(reply, closed) : Outcome::kError;
      {
        std::lock_guard lock(mutex_);
        answers_.push_back({sent_at, Clock::now(), outcome});
      }
      if (outcome != Outcome::kAck) peer.reset();
      if (account > 9999) account = 5000;
      std::this_thread::sleep_for(100ms);
    }
  }

  mutable std::mutex mutex_;
  std::vector<Answer> answers_;
  std::jthread thread_;
};

struct Counts {
  int descriptors = 0;
  int threads = 0;
};

class BadInputE2eTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!CanPlaceDevLinks()) GTEST_SKIP() << "needs root: the console is linked into /dev";
    DevLink::RemoveLeftovers();
    console_ = std::make_unique<ScriptedConsole>(DevLink::UniqueName(),
                                                 [](const Bytes&) { return Reply{}; });
    GatewayOptions options;
    options.program = GATEWAY_PROGRAM;
    options.console_port = console_->PortName();
    options.console_device = console_->SlavePath();
    gateway_ = std::make_unique<GatewayProcess>(options);
    // Messages without an event are acknowledged only once a link test has passed; the
    // expectations count on it.
    ASSERT_TRUE(console_->WaitUntil(
        [](const std::vector<FrameEntry>& frames) {
          return std::any_of(frames.begin(), frames.end(),
                             [](const FrameEntry& f) { return IsLinkTestFrame(f.frame); });
        },
        15s));
    std::this_thread::sleep_for(200ms);
    // A few connections first, so that whatever the gateway sets up for its first clients is
    // there before the count.
    for (int i = 0; i < 3; ++i) ASSERT_EQ(SendGoodLine(), Outcome::kAck);
    baseline_ = SettledCounts();
    std::printf("gateway at rest: %d descriptors, %d threads\n", baseline_.descriptors,
                baseline_.threads);
  }

  void TearDown() override {
    if (!gateway_) return;
    for (const std::string& report : gateway_->SanitizerReports()) ADD_FAILURE() << report;
    const std::string ended = gateway_->Stop();
    EXPECT_EQ(ended, "") << "the gateway ended by itself; output:\n" << gateway_->Output();
    EXPECT_EQ(console_->StrayBytes(), 0u);
  }

  std::string NextLine() { return GoodLine(next_account_++); }

  // A good line on a fresh connection; sent once more, on another account, when the console was
  // held up meanwhile and the answer may have come too late for the gateway.
  Outcome SendGoodLine() {
    Outcome outcome = Outcome::kError;
    for (int attempt = 0; attempt < 2; ++attempt) {
      const auto from = Clock::now();
      outcome = SendOnFreshConnection(NextLine());
      if (outcome == Outcome::kAck || !console_->StalledWithin(from, Clock::now())) break;
    }
    return outcome;
  }

  Outcome SendOnFreshConnection(const std::string& bytes) {
    Peer peer(gateway_->port());
    if (!peer.Send(bytes)) return Outcome::kError;
    bool closed = false;
    const std::string reply = peer.AwaitReply(kPatience, closed);
    return Judge(reply, closed);
  }

  Counts CurrentCounts() const { return {gateway_->DescriptorCount(), gateway_->ThreadCount()}; }

  // The counts once they have stayed the same for half a second.
  Counts SettledCounts() const {
    Counts last = CurrentCounts();
    for (int i = 0; i < 20; ++i) {
      std::this_thread::sleep_for(500ms);
      const Counts now = CurrentCounts();
      if (now.descriptors == last.descriptors && now.threads == last.threads) return now;
      last = now;
    }
    return last;
  }

  // Waits, within a minute, for the descriptors and threads of the gateway at rest.
  void ExpectBackAtRest() {
    const bool back = Eventually(
        [&] {
          const Counts now = CurrentCounts();
          return now.descriptors == baseline_.descriptors && now.threads == baseline_.threads;
        },
        60s);
    const Counts end = CurrentCounts();
    std::printf("gateway after: %d descriptors, %d threads (before: %d, %d)\n", end.descriptors,
                end.threads, baseline_.descriptors, baseline_.threads);
    EXPECT_TRUE(back) << "descriptors now: " << ::testing::PrintToString(gateway_->Descriptors());
  }

  std::unique_ptr<ScriptedConsole> console_;
  std::unique_ptr<GatewayProcess> gateway_;
  Counts baseline_;
  int next_account_ = 1;
};

struct BadBuffer {
  std::string name;
  std::string bytes;
  bool half_close = false;  // the peer ends its sending side right after the buffer
};

std::vector<BadBuffer> BadBuffers(int first_account) {
  std::mt19937_64 random(7);
  const auto random_text = [&](std::size_t size, bool without_five) {
    std::string text(size, '\0');
    for (char& c : text) {
      do {
        c = static_cast<char>(random() & 0xFF);
      } while (without_five && c == '5');
    }
    return text;
  };
  std::vector<BadBuffer> buffers;
  for (int i = 0; i < 16; ++i) {
    buffers.push_back({"random bytes", random_text(1 + random() % 300, false)});
  }
  // Every piece a receive may cut from these is refused, wherever the cut falls.
  buffers.push_back({"32 KiB", random_text(32768, true)});
  buffers.push_back({"32 KiB of NUL", std::string(32768, '\0')});
  buffers.push_back({"more than one receive", random_text(40000, true)});
  const std::string line = GoodLine(first_account);
  buffers.push_back({"NUL", std::string(1, '\0')});
  buffers.push_back({"21 NUL", std::string(21, '\0')});
  buffers.push_back({"5 and 20 NUL", "5" + std::string(20, '\0')});
  buffers.push_back({"NUL terminator", line.substr(0, 20) + '\0'});
  buffers.push_back({"NUL in the account", line.substr(0, 9) + '\0' + line.substr(10)});
  buffers.push_back({"NUL in the receiver field", "5" + std::string(2, '\0') + line.substr(3)});
  for (std::size_t length = 1; length <= 27; ++length) {
    std::string text = GoodLine(first_account + static_cast<int>(length));
    text = length <= 21 ? text.substr(0, length) : text + std::string(length - 21, 'A');
    buffers.push_back({"length " + std::to_string(length), text});
  }
  buffers.push_back(
      {"two lines at once", GoodLine(first_account + 30) + GoodLine(first_account + 31)});
  buffers.push_back({"no leading 5", "4" + GoodLine(first_account + 32).substr(1)});
  buffers.push_back({"letter in the account", ReceiverLine("12A4", "E130", "01", "005")});
  buffers.push_back({"blank in the account", ReceiverLine("12 4", "E130", "01", "005")});
  buffers.push_back({"sign in the account", ReceiverLine("-123", "E130", "01", "005")});
  buffers.push_back({"letter in the zone", ReceiverLine("0033", "E130", "01", "0O5")});
  buffers.push_back({"letter in the group", ReceiverLine("0034", "E401", "0A", "003")});
  buffers.push_back({"letters in the user", ReceiverLine("0035", "R401", "01", "AB3")});
  buffers.push_back({"unknown code", ReceiverLine("0036", "X999", "01", "005")});
  buffers.push_back({"periodic test", ReceiverLine("0037", "E602", "01", "000")});
  buffers.push_back({"good line, then half-closed", GoodLine(first_account + 38), true});
  buffers.push_back({"nothing, half-closed", "", true});
  buffers.push_back({"random bytes, then half-closed", random_text(50, true), true});
  return buffers;
}

TEST_F(BadInputE2eTest, MalformedBuffersGetTheirAnswersWhileGoodLinesGoOn) {
  Sentinel sentinel(gateway_->port());
  // Peers that connect and send nothing, through the whole test.
  std::vector<std::unique_ptr<Peer>> idle;
  for (int i = 0; i < 20; ++i) idle.push_back(std::make_unique<Peer>(gateway_->port()));

  const std::vector<BadBuffer> buffers = BadBuffers(100);
  struct Result {
    std::string reply;
    bool closed = false;
    std::unique_ptr<Peer> peer;  // kept open until the end when nothing came
    Clock::time_point sent, watched;
  };
  std::vector<Result> results(buffers.size());
  const auto phase_start = Clock::now();
  {
    std::atomic<std::size_t> next{0};
    std::vector<std::jthread> senders;
    for (int t = 0; t < 16; ++t) {
      senders.emplace_back([&] {
        for (std::size_t i; (i = next++) < buffers.size();) {
          const BadBuffer& buffer = buffers[i];
          Result& result = results[i];
          try {
            result.peer = std::make_unique<Peer>(gateway_->port());
          } catch (const std::runtime_error& failure) {
            ADD_FAILURE() << buffer.name << ": " << failure.what();
            continue;
          }
          result.sent = Clock::now();
          if (!buffer.bytes.empty()) {
            ASSERT_TRUE(result.peer->Send(buffer.bytes)) << buffer.name;
          }
          if (buffer.half_close) result.peer->HalfClose();
          const bool answer_expected =
              ExpectedOutcome(buffer.bytes) != Outcome::kSilent || buffer.half_close;
          result.reply =
              result.peer->AwaitReply(answer_expected ? kPatience : kWatch, result.closed);
          // After the acknowledgement, a half-closed peer also sees the gateway's end.
          if (buffer.half_close && !result.closed) {
            bool closed_after = false;
            result.reply += result.peer->AwaitReply(kPatience, closed_after);
            result.closed = closed_after;
          }
          result.watched = Clock::now();
        }
      });
    }
  }
  const auto phase_end = Clock::now();
  // A second look at the buffers that got nothing: an answer may only have been slow.
  std::this_thread::sleep_for(1s);
  int answered = 0;
  for (std::size_t i = 0; i < buffers.size(); ++i) {
    const BadBuffer& buffer = buffers[i];
    Result& result = results[i];
    if (!result.peer) continue;
    if (!result.closed) {
      bool closed = false;
      result.reply += result.peer->Pending(closed);
      result.closed = closed;
    }
    const Outcome expected =
        buffer.half_close ? (buffer.bytes.empty() || ExpectedOutcome(buffer.bytes) != Outcome::kAck
                                 ? Outcome::kClosed
                                 : Outcome::kAck)
                          : ExpectedOutcome(buffer.bytes);
    const Outcome got = Judge(result.reply, result.closed);
    if (got != Outcome::kSilent) ++answered;
    if (expected == Outcome::kAck && got == Outcome::kSilent &&
        console_->StalledWithin(result.sent, result.watched)) {
      std::printf("%s: not judged, the console was held up meanwhile\n", buffer.name.c_str());
      continue;
    }
    EXPECT_EQ(OutcomeName(got), std::string(OutcomeName(expected)))
        << buffer.name << ": \"" << Printable(buffer.bytes) << "\" got \""
        << Printable(result.reply) << "\"";
    if (buffer.half_close && expected == Outcome::kAck) {
      EXPECT_TRUE(result.closed) << buffer.name << ": the gateway did not end the connection";
    }
  }
  for (std::size_t i = 0; i < idle.size(); ++i) {
    bool closed = false;
    EXPECT_EQ(idle[i]->Pending(closed), "") << "idle peer " << i;
    EXPECT_FALSE(closed) << "idle peer " << i;
  }
  results.clear();
  idle.clear();

  EXPECT_EQ(OutcomeName(SendGoodLine()), std::string("ack")) << "afterwards";
  sentinel.Stop();
  const int sentinel_acks = sentinel.AcksBetween(phase_start, phase_end);
  std::printf(
      "%zu bad buffers (%d answered or closed as they must be), 20 idle peers; the "
      "sentinel's good lines: %d acknowledged meanwhile, %zu answers in all\n",
      buffers.size(), answered, sentinel_acks, sentinel.Answers().size());
  EXPECT_GT(sentinel_acks, 0) << "no good line was acknowledged while the bad buffers came";
  EXPECT_THAT(sentinel.Wrong(false, *console_), ::testing::IsEmpty());
  ExpectBackAtRest();
}

// Starts a non-blocking connection to 127.0.0.1:`port`; -1 when no socket is left.
int StartConnecting(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  return fd;
}

TEST_F(BadInputE2eTest, ThousandConnectionsOpenedAndDroppedAtOnceLeaveNothingBehind) {
  const int flood = Scaled(1000, 100);
  Sentinel sentinel(gateway_->port());
  std::this_thread::sleep_for(300ms);

  std::atomic<bool> watching{true};
  std::atomic<int> peak_threads{0};
  std::jthread watcher([&] {
    while (watching) {
      peak_threads = std::max(peak_threads.load(), gateway_->ThreadCount());
      std::this_thread::sleep_for(50ms);
    }
  });

  const auto flood_start = Clock::now();
  std::vector<int> sockets;
  for (int i = 0; i < flood; ++i) sockets.push_back(StartConnecting(gateway_->port()));
  // The backlog is short: connections that it turns away come in on the client's retries.
  std::vector<pollfd> pending;
  for (int fd : sockets) {
    if (fd >= 0) pending.push_back({fd, POLLOUT, 0});
  }
  int established = 0;
  const auto connect_deadline = Clock::now() + 20s;
  while (!pending.empty() && Clock::now() < connect_deadline) {
    if (poll(pending.data(), pending.size(), 100) <= 0) continue;
    std::vector<pollfd> still;
    for (const pollfd& p : pending) {
      if (p.revents == 0) {
        still.push_back({p.fd, POLLOUT, 0});
        continue;
      }
      int error = 0;
      socklen_t size = sizeof error;
      getsockopt(p.fd, SOL_SOCKET, SO_ERROR, &error, &size);
      if (error == 0) ++established;
    }
    pending = std::move(still);
  }
  // Dropped: every other one with an orderly end, the rest with a reset.
  for (std::size_t i = 0; i < sockets.size(); ++i) {
    if (sockets[i] < 0) continue;
    if (i % 2 == 1) {
      const linger abortive{1, 0};
      setsockopt(sockets[i], SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
    }
    close(sockets[i]);
  }
  const auto dropped = Clock::now();

  // Each connection ended in order takes its turn on the console port before it goes; the
  // gateway is at rest once its threads are back to where they were.
  const bool drained =
      Eventually([&] { return gateway_->ThreadCount() <= baseline_.threads + 1; }, 120s);
  const auto drained_at = Clock::now();
  watching = false;
  watcher.join();
  EXPECT_EQ(OutcomeName(SendGoodLine()), std::string("ack")) << "afterwards";
  sentinel.Stop();

  const int sentinel_acks = sentinel.AcksBetween(flood_start, drained_at);
  std::printf(
      "%d connections opened at once (%d established), dropped after %.1f s; gateway "
      "threads at most %d, back to rest after %.1f s; the sentinel's good lines: %d "
      "acknowledged meanwhile\n",
      flood, established, std::chrono::duration<double>(dropped - flood_start).count(),
      peak_threads.load(), std::chrono::duration<double>(drained_at - dropped).count(),
      sentinel_acks);
  EXPECT_TRUE(drained) << "gateway threads still " << gateway_->ThreadCount();
  EXPECT_GT(established, 0);
  EXPECT_GT(sentinel_acks, 0) << "no good line was acknowledged during the flood";
  // The cap may close the sentinel's connection while the flood stands above it.
  EXPECT_THAT(sentinel.Wrong(true, *console_), ::testing::IsEmpty());
  ExpectBackAtRest();
}

TEST_F(BadInputE2eTest, ConnectionCapClosesTheOldestAndHoldsTheCount) {
  const int opened = 400;
  Sentinel sentinel(gateway_->port());
  std::vector<std::unique_ptr<Peer>> peers;
  for (int i = 0; i < opened; ++i) {
    peers.push_back(std::make_unique<Peer>(gateway_->port()));
    std::this_thread::sleep_for(kOpeningPace);
  }
  // The count the cap goes by is refreshed once a second.
  std::this_thread::sleep_for(2500ms);
  std::vector<bool> closed(peers.size(), false);
  for (std::size_t i = 0; i < peers.size(); ++i) {
    bool ended = false;
    EXPECT_EQ(peers[i]->Pending(ended), "") << "peer " << i;
    closed[i] = ended;
  }
  const int still_open = static_cast<int>(std::count(closed.begin(), closed.end(), false));
  const std::vector<std::string> descriptors = gateway_->Descriptors();
  const int gateway_sockets = static_cast<int>(
      std::count_if(descriptors.begin(), descriptors.end(),
                    [](const std::string& target) { return target.starts_with("socket:"); }));
  // Between two refreshes of the count the cap cannot see the connections that came meanwhile:
  // at this pace, two seconds' worth of them.
  const int allowance = static_cast<int>(2s / kOpeningPace);
  std::printf(
      "%d connections opened %lld ms apart: %d still open, %d closed by the gateway; "
      "gateway sockets %d (the listening one included); allowed at most %d + %d\n",
      opened, static_cast<long long>(kOpeningPace.count()), still_open, opened - still_open,
      gateway_sockets, kCap, allowance);
  EXPECT_LE(still_open, kCap + allowance);
  EXPECT_GE(still_open, kCap - 2);
  // Oldest first: no connection was closed while an older one stayed open.
  const auto first_open = std::find(closed.begin(), closed.end(), false);
  EXPECT_TRUE(std::find(first_open, closed.end(), true) == closed.end())
      << "a newer connection was closed before an older one";

  // Dropped with a reset: an orderly end would give each one more turn on the console port.
  for (auto& peer : peers) peer->Reset();
  peers.clear();
  EXPECT_EQ(OutcomeName(SendGoodLine()), std::string("ack")) << "afterwards";
  sentinel.Stop();
  EXPECT_THAT(sentinel.Wrong(true, *console_), ::testing::IsEmpty());
  ExpectBackAtRest();
}

}  // namespace
}  // namespace gateway::e2e
