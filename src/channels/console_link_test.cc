#include "channels/console_link.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <future>
#include <latch>
#include <mutex>
#include <thread>
#include <vector>

#include "channels/port_error.h"
#include "fixtures/eventually.h"
#include "fixtures/pty_pair.h"

namespace gateway {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::string ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const PortError& e) {
    return e.what();
  }
  return "";
}

// A frame whose body is `length` copies of `id`, so a byte of another frame inside it shows.
Bytes FrameOf(std::uint8_t id, std::uint8_t length) {
  Bytes frame = {0x1E, length};
  frame.insert(frame.end(), length, id);
  frame.push_back(0x00);
  return frame;
}

// Plays the console: reads frames by their length byte and answers each with 4 bytes naming
// the frame's id. Counts frames whose body mixes ids.
class FrameCheckingConsole {
 public:
  explicit FrameCheckingConsole(PtyPair& pty)
      : pty_(pty), thread_([this](std::stop_token s) { Run(s); }) {}

  int frames() const { return frames_; }
  int mixed() const { return mixed_; }

 private:
  void Run(std::stop_token stop) {
    Bytes buffer;
    while (!stop.stop_requested()) {
      const Bytes part = pty_.ReadFor(2ms);
      buffer.insert(buffer.end(), part.begin(), part.end());
      while (buffer.size() >= 2 && buffer.size() >= buffer[1] + 3u) {
        const std::size_t size = buffer[1] + 3u;
        const std::uint8_t id = buffer[2];
        bool whole = buffer[0] == 0x1E;
        for (std::size_t i = 2; i < size - 1; ++i) whole = whole && buffer[i] == id;
        if (!whole) ++mixed_;
        ++frames_;
        buffer.erase(buffer.begin(), buffer.begin() + static_cast<long>(size));
        pty_.Write(Bytes{0xA5, id, id, 0x5A});
      }
    }
  }

  PtyPair& pty_;
  std::atomic<int> frames_{0};
  std::atomic<int> mixed_{0};
  std::jthread thread_;
};

// Workers that each ask the link for one turn, note their id while they hold it and let go.
class QueuedWorkers {
 public:
  explicit QueuedWorkers(ConsoleLink& link) : link_(link) {}

  // Starts worker `id`; returns once it waits for the link, false if it never does.
  bool Start(int id) {
    const int waiting = link_.WaitingCount();
    threads_.emplace_back([this, id](std::stop_token stop) {
      if (std::unique_ptr<LinkSession> session = link_.Acquire(stop)) {
        std::lock_guard lock(mutex_);
        granted_.push_back(id);
      }
      ++ended_;
    });
    return Eventually([&] { return link_.WaitingCount() == waiting + 1; });
  }
  // Requests the stop of the worker started `index`-th (from 0).
  void Stop(std::size_t index) { threads_[index].request_stop(); }
  int Ended() const { return ended_; }
  // Returns once every worker has ended, false if some never do.
  bool AllEnded() const {
    return Eventually([&] { return ended_ == static_cast<int>(threads_.size()); });
  }
  // The ids in the order the workers held the link.
  std::vector<int> Granted() {
    std::lock_guard lock(mutex_);
    return granted_;
  }

 private:
  ConsoleLink& link_;
  std::mutex mutex_;
  std::vector<int> granted_;
  std::atomic<int> ended_{0};
  std::vector<std::jthread> threads_;  // last: stopped and joined before the rest goes
};

class ConsoleLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    link_.SetPortName(pty_.PortName());
    ASSERT_TRUE(link_.Open());
  }

  // One exchange as every user makes it: the frame one byte per write, then the reply.
  static Bytes Exchange(ConsoleSession& session, std::uint8_t id) {
    WriteFrame(session, FrameOf(id, static_cast<std::uint8_t>(3 + id % 5)));
    return session.Read(500);  // ends 1 ms after the reply; the margin is for slow machines
  }

  PtyPair pty_;
  ConsoleLink link_;
};

TEST_F(ConsoleLinkTest, ExchangesFromManyThreadsAndTheMainThreadNeverMix) {
  FrameCheckingConsole console(pty_);
  constexpr int kWorkers = 4;
  constexpr int kExchanges = 25;
  std::atomic<int> wrong_replies{0};
  {
    std::vector<std::jthread> workers;
    for (int w = 0; w < kWorkers; ++w) {
      workers.emplace_back([&, w] {
        const auto id = static_cast<std::uint8_t>(0x10 + w);
        for (int i = 0; i < kExchanges; ++i) {
          std::unique_ptr<LinkSession> session = link_.Acquire(std::stop_token());
          ASSERT_NE(session, nullptr);
          if (Exchange(*session, id) != Bytes{0xA5, id, id, 0x5A}) ++wrong_replies;
        }
      });
    }
    for (int i = 0; i < kExchanges; ++i) {
      std::unique_ptr<ConsoleSession> session = link_.BeginExchange();
      ASSERT_NE(session, nullptr);
      if (Exchange(*session, 0x7F) != Bytes{0xA5, 0x7F, 0x7F, 0x5A}) ++wrong_replies;
    }
  }  // the workers finish their exchanges here
  EXPECT_EQ(console.frames(), (kWorkers + 1) * kExchanges);
  EXPECT_EQ(console.mixed(), 0);
  EXPECT_EQ(wrong_replies, 0);
}

TEST_F(ConsoleLinkTest, MainThreadWaitsBehindAtMostTheExchangeInProgress) {
  constexpr auto kHold = 15ms;
  std::atomic<int> worker_sessions{0};
  std::stop_source stop;
  std::vector<std::jthread> workers;
  for (int w = 0; w < 4; ++w) {
    workers.emplace_back([&] {
      while (std::unique_ptr<LinkSession> session = link_.Acquire(stop.get_token())) {
        ++worker_sessions;
        std::this_thread::sleep_for(kHold);
      }
    });
  }
  while (worker_sessions < 4) std::this_thread::sleep_for(1ms);
  for (int attempt = 0; attempt < 10; ++attempt) {
    SCOPED_TRACE(attempt);
    const int before = worker_sessions;
    const auto start = Clock::now();
    std::unique_ptr<ConsoleSession> session = link_.BeginExchange();
    const auto waited = Clock::now() - start;
    ASSERT_NE(session, nullptr);
    // The session in progress, and at most one that began between the count and the request.
    EXPECT_LE(worker_sessions - before, 2);
    EXPECT_LT(waited, 1000ms);
    session.reset();
    std::this_thread::sleep_for(2 * kHold);
  }
  stop.request_stop();
}

TEST_F(ConsoleLinkTest, WorkersAreGrantedTheLinkInTheOrderTheyAsked) {
  std::unique_ptr<ConsoleSession> held = link_.BeginExchange();
  QueuedWorkers workers(link_);
  for (int id = 0; id < 8; ++id) ASSERT_TRUE(workers.Start(id)) << id;
  held.reset();
  ASSERT_TRUE(workers.AllEnded());
  EXPECT_EQ(workers.Granted(), (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7}));
  EXPECT_EQ(link_.WaitingCount(), 0);
}

TEST_F(ConsoleLinkTest, StoppedWaiterNeitherGetsTheLinkNorHoldsUpThoseBehindIt) {
  const struct {
    std::size_t stopped;
    std::vector<int> granted;
  } kCases[] = {{0, {1, 2}}, {1, {0, 2}}, {2, {0, 1}}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.stopped);
    std::unique_ptr<ConsoleSession> held = link_.BeginExchange();
    QueuedWorkers workers(link_);
    for (int id = 0; id < 3; ++id) ASSERT_TRUE(workers.Start(id));
    workers.Stop(c.stopped);
    // It leaves while the link is still held, so it cannot have had it.
    ASSERT_TRUE(Eventually([&] { return workers.Ended() == 1 && link_.WaitingCount() == 2; }));
    held.reset();
    ASSERT_TRUE(workers.AllEnded());
    EXPECT_EQ(workers.Granted(), c.granted);
  }
}

TEST_F(ConsoleLinkTest, StopThatRacesWithTheTurnNeverLosesIt) {
  constexpr int kRounds = 300;
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE(round);
    std::unique_ptr<ConsoleSession> held = link_.BeginExchange();
    std::atomic<bool> second_got{false};
    // Whether or not the stop beats the turn, the first worker lets the link go at once.
    std::jthread first([&](std::stop_token stop) { link_.Acquire(stop); });
    ASSERT_TRUE(Eventually([&] { return link_.WaitingCount() == 1; }));
    std::jthread second([&](std::stop_token stop) { second_got = link_.Acquire(stop) != nullptr; });
    ASSERT_TRUE(Eventually([&] { return link_.WaitingCount() == 2; }));
    // The release hands the first worker its turn just as its stop comes.
    std::latch go(2);
    std::jthread stopper([&] {
      go.arrive_and_wait();
      first.request_stop();
    });
    go.arrive_and_wait();
    held.reset();
    ASSERT_TRUE(Eventually([&] { return second_got.load(); }));
  }
  EXPECT_EQ(link_.WaitingCount(), 0);
}

TEST_F(ConsoleLinkTest, MainThreadGoesBeforeQueuedWorkers) {
  std::promise<void> holding;
  std::jthread holder([&](std::stop_token stop) {
    std::unique_ptr<LinkSession> session = link_.Acquire(stop);
    holding.set_value();
    // Lets go once the main thread waits behind it as well as both workers.
    Eventually([&] { return link_.WaitingCount() == 3; });
  });
  holding.get_future().wait();
  QueuedWorkers workers(link_);
  ASSERT_TRUE(workers.Start(0));
  ASSERT_TRUE(workers.Start(1));
  std::unique_ptr<ConsoleSession> session = link_.BeginExchange();
  ASSERT_NE(session, nullptr);
  EXPECT_EQ(link_.WaitingCount(), 2);
  EXPECT_TRUE(workers.Granted().empty());
  session.reset();
  ASSERT_TRUE(workers.AllEnded());
  EXPECT_EQ(workers.Granted(), (std::vector<int>{0, 1}));
}

TEST_F(ConsoleLinkTest, MainThreadInsideItsOwnExchangeGetsNoSecondOne) {
  std::unique_ptr<ConsoleSession> outer = link_.BeginExchange();
  ASSERT_NE(outer, nullptr);
  const auto start = Clock::now();
  EXPECT_EQ(link_.BeginExchange(), nullptr);
  EXPECT_LT(Clock::now() - start, 500ms);
  outer.reset();
  EXPECT_NE(link_.BeginExchange(), nullptr);
}

TEST_F(ConsoleLinkTest, WorkerGivesUpWaitingWhenStopIsRequested) {
  std::unique_ptr<ConsoleSession> held = link_.BeginExchange();
  std::stop_source stop;
  auto waiting = std::async(std::launch::async, [&] { return link_.Acquire(stop.get_token()); });
  EXPECT_EQ(waiting.wait_for(50ms), std::future_status::timeout);
  stop.request_stop();
  ASSERT_EQ(waiting.wait_for(2s), std::future_status::ready);
  EXPECT_EQ(waiting.get(), nullptr);
}

TEST_F(ConsoleLinkTest, CloseFromTheHolderIsImmediateAndEndsTheExchangesReadsAndWrites) {
  std::unique_ptr<LinkSession> session = link_.Acquire(std::stop_token());
  ASSERT_NE(session, nullptr);
  // From the worker that holds the link: at once, no wait for itself.
  auto closed = std::async(std::launch::async, [&] {
    session->ClosePort();
    return link_.IsOpen();
  });
  ASSERT_EQ(closed.wait_for(2s), std::future_status::ready);
  EXPECT_FALSE(closed.get());
  EXPECT_EQ(ErrorOf([&] { session->WriteByte(0x1E); }), kErrWrite);
  EXPECT_EQ(ErrorOf([&] { session->Read(100); }), kErrRead);
}

// The console's side gone in the middle of an exchange, met first by a read or by a write.
TEST_F(ConsoleLinkTest, HungUpLineClosesThePortAndIsReportedOnce) {
  for (const bool read_first : {true, false}) {
    SCOPED_TRACE(read_first ? "read first" : "write first");
    PtyPair console;
    ConsoleLink link;
    std::atomic<int> lost{0};
    link.SetLineLostHandler([&] { ++lost; });
    link.SetPortName(console.PortName());
    ASSERT_TRUE(link.Open());
    std::unique_ptr<ConsoleSession> session = link.BeginExchange();
    ASSERT_NE(session, nullptr);
    console.CloseMaster();

    if (read_first) {
      EXPECT_EQ(ErrorOf([&] { session->Read(10); }), kErrRead);
    } else {
      EXPECT_EQ(ErrorOf([&] { session->WriteByte(0x1E); }), kErrWrite);
    }
    EXPECT_FALSE(link.IsOpen());
    EXPECT_EQ(lost, 1);
    // What follows fails on the closed port and reports nothing more.
    EXPECT_EQ(ErrorOf([&] { session->WriteByte(0x1E); }), kErrWrite);
    EXPECT_EQ(ErrorOf([&] { session->Read(10); }), kErrRead);
    EXPECT_EQ(lost, 1);
  }
}

TEST_F(ConsoleLinkTest, FailuresOfALiveLineAreNoLostLine) {
  std::atomic<int> lost{0};
  link_.SetLineLostHandler([&] { ++lost; });
  std::unique_ptr<LinkSession> session = link_.Acquire(std::stop_token());
  ASSERT_NE(session, nullptr);
  session->ClosePort();
  EXPECT_EQ(ErrorOf([&] { session->Read(10); }), kErrRead);
  EXPECT_EQ(lost, 0);
}

TEST_F(ConsoleLinkTest, CloseFromAnotherThreadWaitsForTheExchangeInProgress) {
  std::atomic<bool> exchange_done{false};
  std::promise<void> holding;
  std::jthread worker([&] {
    std::unique_ptr<LinkSession> session = link_.Acquire(std::stop_token());
    holding.set_value();
    std::this_thread::sleep_for(50ms);
    session->WriteByte(0x42);  // still open: the close waits behind this exchange
    exchange_done = true;
  });
  holding.get_future().wait();
  EXPECT_TRUE(link_.Close());
  EXPECT_TRUE(exchange_done);
  EXPECT_EQ(pty_.ReadExactly(1, 1s), Bytes{0x42});
}

TEST_F(ConsoleLinkTest, SettingsAndEnsureOpenUseThePortsRules) {
  EXPECT_EQ(ErrorOf([&] { link_.SetPortName("ttyS0"); }), kErrRenameOpen);
  EXPECT_TRUE(link_.EnsureOpen());
  ASSERT_TRUE(link_.Close());
  EXPECT_FALSE(link_.IsOpen());
  link_.SetBaudRate(kBaudPosition115200);
  EXPECT_TRUE(link_.EnsureOpen());
  EXPECT_TRUE(link_.IsOpen());
  EXPECT_EQ(link_.BaudRate(), kBaudPosition115200);
  ASSERT_TRUE(link_.Close());
  link_.SetPortName("ttyDoesNotExist0");
  EXPECT_EQ(ErrorOf([&] { link_.EnsureOpen(); }), kErrPortMissing);
  EXPECT_FALSE(link_.IsOpen());
}

TEST_F(ConsoleLinkTest, MainThreadMayChangeSettingsInsideItsOwnExchange) {
  std::unique_ptr<ConsoleSession> session = link_.BeginExchange();
  auto done = std::async(std::launch::deferred, [&] {
    EXPECT_TRUE(link_.Close());
    link_.SetBaudRate(kBaudPosition115200);
    return link_.EnsureOpen();
  });
  EXPECT_TRUE(done.get());  // runs here, on the main thread, without waiting for itself
}

TEST_F(ConsoleLinkTest, BytesOutsideAnExchangeStartTheNextReply) {
  pty_.Write(Bytes{0xEE, 0xEE});
  std::this_thread::sleep_for(20ms);
  std::unique_ptr<ConsoleSession> session = link_.BeginExchange();
  ASSERT_NE(session, nullptr);
  std::jthread console([&] {
    pty_.ReadExactly(6, 1s);
    pty_.Write(Bytes{1, 2, 3, 4});
  });
  WriteFrame(*session, FrameOf(0x01, 3));
  console.join();  // the reply has come before the read: nothing depends on how fast
  const Bytes reply = session->Read(500);
  EXPECT_EQ(reply, (Bytes{0xEE, 0xEE, 1, 2, 3, 4}));
  EXPECT_FALSE(IsAcknowledgement(reply));
}

TEST(ConsoleLinkThreadTest, BeginExchangeOffTheMainThreadWaitsLikeAWorker) {
  PtyPair pty;
  ConsoleLink link;
  link.SetPortName(pty.PortName());
  ASSERT_TRUE(link.Open());
  std::unique_ptr<ConsoleSession> held = link.BeginExchange();
  auto other = std::async(std::launch::async, [&] { return link.BeginExchange() != nullptr; });
  EXPECT_EQ(other.wait_for(50ms), std::future_status::timeout);
  held.reset();
  ASSERT_EQ(other.wait_for(2s), std::future_status::ready);
  EXPECT_TRUE(other.get());
}

}  // namespace
}  // namespace gateway
