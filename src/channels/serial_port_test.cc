#include "channels/serial_port.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <mutex>
#include <thread>

#include "channels/arbitrary_baud_rate.h"
#include "channels/port_error.h"
#include "fixtures/pty_pair.h"
#include "fixtures/queue_dispatcher.h"
#include "fixtures/temp_dir.h"
#include "supervision/console_exchange.h"

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

int OpenDescriptors() {
  int count = 0;
  DIR* dir = opendir("/proc/self/fd");
  while (dir && readdir(dir)) ++count;
  if (dir) closedir(dir);
  return count;
}

Bytes AllByteValues() {
  Bytes bytes;
  for (int value = 0; value < 256; ++value) bytes.push_back(static_cast<std::uint8_t>(value));
  return bytes;
}

class SerialPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    port_.SetPortName(console_.PortName());
    ASSERT_TRUE(port_.Open());
  }

  // Plays the console: writes `bytes` after `delay`, on its own thread.
  std::jthread ReplyAfter(std::chrono::milliseconds delay, Bytes bytes) {
    return std::jthread([this, delay, bytes] {
      std::this_thread::sleep_for(delay);
      console_.Write(bytes);
    });
  }

  PtyPair console_;
  SerialPort port_;
};

// The reply read decides acknowledgement by length alone, so every length must come through
// whole and on time.
TEST_F(SerialPortTest, ReplyReadReturnsWhatTheConsoleSentAndEndsSoonAfterIt) {
  struct Case {
    int length;
    bool acknowledges;
  };
  for (const Case& c : {Case{0, false}, Case{3, false}, Case{4, true}, Case{5, false}}) {
    SCOPED_TRACE(c.length);
    Bytes reply;
    for (int i = 0; i < c.length; ++i) reply.push_back(static_cast<std::uint8_t>(0xA0 + i));
    // A long maximum where something comes, so that ending at the gap after the reply and
    // ending at the read's total limit stay far apart however slow the machine.
    const int max = c.length == 0 ? 100 : 2000;
    const auto start = Clock::now();
    Bytes got;
    {
      std::jthread console = ReplyAfter(10ms, reply);
      got = port_.Read(max);
    }
    const auto elapsed = Clock::now() - start;
    EXPECT_EQ(got, reply);
    EXPECT_EQ(IsAcknowledgement(got), c.acknowledges);
    if (c.length == 0) {
      EXPECT_GE(elapsed, 101ms);  // the whole N + 1 ms when nothing comes
    } else {
      EXPECT_LT(elapsed, 1000ms);
    }
  }
}

TEST_F(SerialPortTest, ReadOfNothingTakesItsMaximumPlusOneMillisecond) {
  const auto start = Clock::now();
  EXPECT_TRUE(port_.Read(40).empty());
  const auto elapsed = Clock::now() - start;
  EXPECT_GE(elapsed, 41ms);
  EXPECT_LT(elapsed, 1000ms);
}

TEST_F(SerialPortTest, TwoRepliesUnderAMillisecondApartReadAsOneThatDoesNotAcknowledge) {
  const Bytes both = {0x01, 0x02, 0x03, 0x04, 0x11, 0x12, 0x13, 0x14};
  std::jthread console = ReplyAfter(5ms, both);
  const Bytes got = port_.Read(100);
  EXPECT_EQ(got, both);
  EXPECT_FALSE(IsAcknowledgement(got));
}

TEST_F(SerialPortTest, RepliesFarApartAreReadOneAtATime) {
  std::jthread console([this] {
    std::this_thread::sleep_for(5ms);
    console_.Write(Bytes{1, 2, 3, 4});
    std::this_thread::sleep_for(150ms);
    console_.Write(Bytes{5, 6, 7, 8});
  });
  EXPECT_EQ(port_.Read(100), (Bytes{1, 2, 3, 4}));
  EXPECT_EQ(port_.Read(300), (Bytes{5, 6, 7, 8}));
}

TEST_F(SerialPortTest, ReadEndsAtItsMaximumAndLeavesTheRestForTheNextRead) {
  console_.Write(Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9});
  std::this_thread::sleep_for(20ms);  // the bytes wait in the input buffer meanwhile
  EXPECT_EQ(port_.Read(4), (Bytes{1, 2, 3, 4}));
  EXPECT_EQ(port_.Read(100), (Bytes{5, 6, 7, 8, 9}));
}

TEST_F(SerialPortTest, EveryByteValueCrossesTheLineUnchangedBothWays) {
  const Bytes all = AllByteValues();
  EXPECT_EQ(port_.Write(all), 256);
  EXPECT_EQ(console_.ReadExactly(256, 2s), all);

  console_.Write(all);
  Bytes got;
  for (int attempt = 0; attempt < 20 && got.size() < all.size(); ++attempt) {
    const Bytes part = port_.Read(300);
    got.insert(got.end(), part.begin(), part.end());
  }
  EXPECT_EQ(got, all);
}

TEST_F(SerialPortTest, LineIsRaw8N1WithoutFlowControl) {
  termios settings{};
  ASSERT_EQ(tcgetattr(console_.held_slave_fd(), &settings), 0);
  EXPECT_EQ(settings.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(settings.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
  EXPECT_EQ(settings.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
  EXPECT_EQ(settings.c_iflag & (IXON | IXOFF | IXANY | ICRNL | INLCR | ISTRIP), 0u);
  EXPECT_EQ(settings.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
  EXPECT_EQ(settings.c_oflag & OPOST, 0u);
  EXPECT_EQ(ReadBaudRate(console_.held_slave_fd()), 9600);
}

TEST_F(SerialPortTest, WriteThatRunsOutOfTimeReturnsShortWithoutError) {
  // Nobody reads the console side, so its buffers fill up; the kernel moves bytes between
  // them in the background, so only a write that got nothing at all shows they are full.
  const Bytes chunk(64, 0x55);
  int written = static_cast<int>(chunk.size());
  for (int i = 0; i < 10000 && written > 0; ++i) written = port_.Write(chunk);
  ASSERT_EQ(written, 0);
  const auto start = Clock::now();
  EXPECT_EQ(port_.Write(Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}), 0);
  const auto elapsed = Clock::now() - start;
  EXPECT_GE(elapsed, 11ms);
  EXPECT_LT(elapsed, 1000ms);
}

TEST_F(SerialPortTest, ReadAndWriteFailWhenTheOtherSideHasGone) {
  console_.CloseMaster();
  EXPECT_EQ(ErrorOf([&] { port_.Write(Bytes{0x1E}); }), kErrWrite);
  EXPECT_EQ(ErrorOf([&] { port_.Read(40); }), kErrRead);
  // Told apart from other failures: the line has hung up for good.
  EXPECT_THROW(port_.Write(Bytes{0x1E}), LineHungUp);
  EXPECT_THROW(port_.Read(40), LineHungUp);
  // The line is dead, so closing it cannot fail on lowering its modem lines.
  EXPECT_TRUE(port_.Close());
  EXPECT_FALSE(port_.IsOpen());
}

TEST_F(SerialPortTest, ReadAndWriteFailOnAClosedPort) {
  ASSERT_TRUE(port_.Close());
  EXPECT_EQ(ErrorOf([&] { port_.Write(Bytes{0x1E}); }), kErrWrite);
  EXPECT_EQ(ErrorOf([&] { port_.Read(40); }), kErrRead);
  try {
    port_.Read(40);
  } catch (const LineHungUp&) {
    ADD_FAILURE() << "a port closed here is no hung-up line";
  } catch (const PortError&) {
  }
}

TEST_F(SerialPortTest, OpenAndCloseTwiceChangeNothing) {
  EXPECT_TRUE(port_.Open());
  EXPECT_TRUE(port_.IsOpen());
  port_.Write(Bytes{0x42});
  EXPECT_EQ(console_.ReadExactly(1, 1s), Bytes{0x42});
  EXPECT_TRUE(port_.Close());
  EXPECT_TRUE(port_.Close());
  EXPECT_FALSE(port_.IsOpen());
  // Reopening works: the lock and the exclusive flag went with the close.
  EXPECT_TRUE(port_.Open());
  SerialPort other;
  other.SetPortName(console_.PortName());
  EXPECT_EQ(ErrorOf([&] { other.Open(); }), kErrPortBusy);
}

TEST_F(SerialPortTest, CloseDiscardsPendingInputButNotOutput) {
  console_.Write(Bytes{9, 9, 9});
  std::this_thread::sleep_for(20ms);
  port_.Write(Bytes{1, 2, 3});
  ASSERT_TRUE(port_.Close());
  EXPECT_EQ(console_.ReadExactly(3, 1s), (Bytes{1, 2, 3}));
  ASSERT_TRUE(port_.Open());
  EXPECT_TRUE(port_.Read(20).empty());
}

TEST_F(SerialPortTest, RenamingAnOpenPortIsRefused) {
  EXPECT_EQ(ErrorOf([&] { port_.SetPortName("ttyS0"); }), kErrRenameOpen);
  EXPECT_EQ(port_.PortName(), console_.PortName());
  ASSERT_TRUE(port_.Close());
  port_.SetPortName("ttyS0");
  EXPECT_EQ(port_.PortName(), "ttyS0");
}

TEST_F(SerialPortTest, EveryListedRateReachesTheDriverAtOnce) {
  for (int position = 0; position < static_cast<int>(kBaudRates.size()); ++position) {
    SCOPED_TRACE(kBaudRates[position]);
    port_.SetBaudRate(position);
    EXPECT_EQ(port_.BaudRate(), position);
    EXPECT_EQ(ReadBaudRate(console_.held_slave_fd()), kBaudRates[position]);
  }
  port_.SetBaudRate(7);  // 14400: no termios constant, set through termios2
  ASSERT_TRUE(port_.Close());
  ASSERT_TRUE(port_.Open());
  EXPECT_EQ(ReadBaudRate(console_.held_slave_fd()), 14400);
}

TEST_F(SerialPortTest, RateOutsideTheListIsRefusedAndLeavesTheLineAsItWas) {
  port_.SetBaudRate(kBaudPosition115200);
  for (int position : {-1, static_cast<int>(kBaudRates.size())}) {
    EXPECT_EQ(ErrorOf([&] { port_.SetBaudRate(position); }), kErrSetCommState);
    EXPECT_EQ(port_.BaudRate(), kBaudPosition115200);
    EXPECT_EQ(ReadBaudRate(console_.held_slave_fd()), 115200);
    EXPECT_TRUE(port_.IsOpen());
  }
  ASSERT_TRUE(port_.Close());
  port_.SetBaudRate(15);
  EXPECT_EQ(ErrorOf([&] { port_.Open(); }), kErrSetCommState);
  EXPECT_FALSE(port_.IsOpen());
}

TEST(SerialPortOpenTest, FailedOpenReportsWhyAndLeavesThePortClosed) {
  PtyPair console;
  SerialPort holder;
  holder.SetPortName(console.PortName());
  ASSERT_TRUE(holder.Open());
  TempDir folder;
  std::ofstream(folder / "plain") << "not a device";

  struct Case {
    std::string root;
    std::string name;
    std::string error;
  };
  const Case cases[] = {
      {"/dev/", "ttyDoesNotExist0", kErrPortMissing},
      {"/dev/", "", kErrPortMissing},
      {"/dev/", console.PortName(), kErrPortBusy},  // already open elsewhere
      {"/dev/", "null", kErrSetupComm},             // a device, but no tty
      {folder.path().string() + "/", "plain", kErrSetupComm},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.root + c.name);
    SerialPort port(c.root);
    port.SetPortName(c.name);
    const int descriptors = OpenDescriptors();
    EXPECT_EQ(ErrorOf([&] { port.Open(); }), c.error);
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(OpenDescriptors(), descriptors);
    EXPECT_TRUE(port.Close());
  }
}

TEST(SerialPortOpenTest, PortFreedByItsHolderCanBeOpenedElsewhere) {
  PtyPair console;
  SerialPort first;
  SerialPort second;
  first.SetPortName(console.PortName());
  second.SetPortName(console.PortName());
  ASSERT_TRUE(first.Open());
  EXPECT_EQ(ErrorOf([&] { second.Open(); }), kErrPortBusy);
  ASSERT_TRUE(first.Close());
  EXPECT_TRUE(second.Open());
}

class ReceiveEventTest : public ::testing::Test {
 protected:
  void SetUp() override { port_.SetPortName(console_.PortName()); }

  PtyPair console_;
  QueueDispatcher dispatcher_;
  SerialPort port_;
};

TEST_F(ReceiveEventTest, BurstRaisesOneEventHandledOnTheDispatchersThread) {
  std::vector<int> counts;
  Bytes read;
  std::thread::id handler_thread;
  port_.SetReceiveHandler(
      [&](int count) {
        counts.push_back(count);
        handler_thread = std::this_thread::get_id();
        const Bytes part = port_.Read(400);
        read.insert(read.end(), part.begin(), part.end());
      },
      &dispatcher_);
  ASSERT_TRUE(port_.Open());
  const Bytes message = BytesOf("5010 181234E13001005\x14");
  console_.Write(message);
  EXPECT_TRUE(dispatcher_.RunUntil([&] { return read.size() >= message.size(); }, 2s));
  dispatcher_.RunFor(100ms);  // nothing further may come
  EXPECT_EQ(counts, std::vector<int>{21});
  EXPECT_EQ(read, message);
  EXPECT_EQ(handler_thread, std::this_thread::get_id());
}

TEST_F(ReceiveEventTest, NextEventWaitsUntilTheHandlerHasReturned) {
  int calls = 0;
  int posted_while_running = -1;
  port_.SetReceiveHandler(
      [&](int) {
        port_.Read(10);
        if (++calls == 1) {
          const int posted = dispatcher_.posted();
          console_.Write(Bytes{2});
          std::this_thread::sleep_for(60ms);
          posted_while_running = dispatcher_.posted() - posted;
        }
      },
      &dispatcher_);
  ASSERT_TRUE(port_.Open());
  console_.Write(Bytes{1});
  EXPECT_TRUE(dispatcher_.RunUntil([&] { return calls >= 2; }, 2s));
  EXPECT_EQ(posted_while_running, 0);
}

TEST_F(ReceiveEventTest, HandlerMayCloseItsOwnPort) {
  bool closed = false;
  port_.SetReceiveHandler([&](int) { closed = port_.Close(); }, &dispatcher_);
  ASSERT_TRUE(port_.Open());
  console_.Write(Bytes{1, 2, 3});
  EXPECT_TRUE(dispatcher_.RunUntil([&] { return closed; }, 2s));
  EXPECT_FALSE(port_.IsOpen());
  // Events start again with the next open.
  closed = false;
  ASSERT_TRUE(port_.Open());
  console_.Write(Bytes{4});
  EXPECT_TRUE(dispatcher_.RunUntil([&] { return closed; }, 2s));
}

TEST(ReceiveEventLifetimeTest, CallQueuedBeforeTheCloseDoesNothing) {
  for (bool destroy : {false, true}) {
    SCOPED_TRACE(destroy ? "port destroyed" : "port closed");
    PtyPair console;
    QueueDispatcher dispatcher;
    int calls = 0;
    auto port = std::make_unique<SerialPort>();
    port->SetPortName(console.PortName());
    port->SetReceiveHandler([&](int) { ++calls; }, &dispatcher);
    ASSERT_TRUE(port->Open());
    console.Write(Bytes{1});
    ASSERT_TRUE(dispatcher.WaitForPosted(2s));
    if (destroy) {
      port.reset();
    } else {
      ASSERT_TRUE(port->Close());
    }
    dispatcher.RunFor(50ms);
    EXPECT_EQ(calls, 0);
  }
}

TEST_F(ReceiveEventTest, BytesLeftByTheHandlerRaiseALaterEventWithoutFurtherInput) {
  std::vector<Clock::time_point> calls;
  Bytes read;
  port_.SetReceiveHandler(
      [&](int) {
        calls.push_back(Clock::now());
        if (calls.size() < 3) return;  // standing back: the bytes stay in the input buffer
        read = port_.Read(100);
      },
      &dispatcher_);
  ASSERT_TRUE(port_.Open());
  console_.Write(Bytes{7, 8, 9});
  EXPECT_TRUE(dispatcher_.RunUntil([&] { return !read.empty(); }, 2s));
  EXPECT_EQ(read, (Bytes{7, 8, 9}));
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_GE(calls[1] - calls[0], 15ms);  // a pause, not a spin
  EXPECT_GE(calls[2] - calls[1], 15ms);
  dispatcher_.RunFor(100ms);
  EXPECT_EQ(calls.size(), 3u);  // nothing left, nothing raised
}

TEST_F(ReceiveEventTest, HandlerThatNeverReadsIsCalledAtAPaceNotInALoop) {
  int calls = 0;
  port_.SetReceiveHandler([&](int) { ++calls; }, &dispatcher_);
  ASSERT_TRUE(port_.Open());
  console_.Write(Bytes{1});
  dispatcher_.RunFor(400ms);
  EXPECT_GE(calls, 2);
  EXPECT_LE(calls, 400 / 15);
}

TEST_F(ReceiveEventTest, VanishedOtherSideRaisesNoStreamOfEvents) {
  int calls = 0;
  port_.SetReceiveHandler([&](int) { ++calls; }, &dispatcher_);
  ASSERT_TRUE(port_.Open());
  console_.CloseMaster();
  dispatcher_.RunFor(200ms);
  EXPECT_LE(calls, 1);
  EXPECT_TRUE(port_.Close());
}

}  // namespace
}  // namespace gateway
