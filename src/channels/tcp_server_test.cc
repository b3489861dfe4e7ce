#include "channels/tcp_server.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <future>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "fixtures/eventually.h"
#include "fixtures/loopback_client.h"
#include "frames/bytes.h"

namespace gateway {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

// Upper bound of every wait in these tests: reached only when something is broken.
constexpr auto kPatience = 10s;

// Handler calls as text, in the order they happened, from any thread.
class Trace {
 public:
  void Add(std::string entry) {
    std::lock_guard lock(mutex_);
    entries_.push_back(std::move(entry));
  }
  std::vector<std::string> Entries() const {
    std::lock_guard lock(mutex_);
    return entries_;
  }
  int Count(const std::string& entry) const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(std::count(entries_.begin(), entries_.end(), entry));
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> entries_;
};

// Lets a handler go on only when the test says so, or when its connection is being stopped.
class Gate {
 public:
  void Open(int passes = 1) {
    {
      std::lock_guard lock(mutex_);
      passes_ += passes;
    }
    changed_.notify_all();
  }
  // True when a pass was taken, false when `stop` came first.
  bool Pass(std::stop_token stop) {
    std::unique_lock lock(mutex_);
    if (!changed_.wait(lock, stop, [&] { return passes_ > 0; })) return false;
    --passes_;
    return true;
  }

 private:
  std::mutex mutex_;
  std::condition_variable_any changed_;
  int passes_ = 0;
};

void Echo(TcpConnection& connection) {
  const std::string buffer = connection.Read();
  if (!buffer.empty()) connection.Write(BytesOf(buffer));
}

std::unique_ptr<TcpServer> StartServer(TcpHandlers handlers) {
  auto server = std::make_unique<TcpServer>(std::move(handlers));
  server->SetBinding("127.0.0.1", 0);
  server->Activate();
  return server;
}

// Connects `count` clients to a server that has no other connection and waits until it lists
// them all. It keeps only a few connections ahead of the server: a fuller backlog drops
// connection requests, which the client's system repeats only a second later.
std::vector<std::unique_ptr<LoopbackClient>> ConnectMany(TcpServer& server, int count) {
  std::vector<std::unique_ptr<LoopbackClient>> clients;
  for (int i = 0; i < count; ++i) {
    clients.push_back(std::make_unique<LoopbackClient>(server.LocalPort()));
    EXPECT_TRUE(Eventually([&] { return server.ConnectionCount() > i - 8; }));
  }
  EXPECT_TRUE(Eventually([&] { return server.ConnectionCount() == count; }));
  return clients;
}

std::vector<const TcpConnection*> Listed(TcpServer& server) {
  std::vector<const TcpConnection*> listed;
  server.ForEachConnection([&](TcpConnection& connection) { listed.push_back(&connection); });
  return listed;
}

TEST(TcpServer, ListsConnectionsOldestFirstFromBeforeTheirFirstHandler) {
  std::mutex mutex;
  std::vector<const TcpConnection*> connected;
  std::vector<bool> listed_at_connect;
  TcpServer* server_ref = nullptr;
  auto server =
      StartServer({.on_connect =
                       [&](TcpConnection& connection) {
                         const auto listed = Listed(*server_ref);
                         std::lock_guard lock(mutex);
                         connected.push_back(&connection);
                         listed_at_connect.push_back(
                             std::find(listed.begin(), listed.end(), &connection) != listed.end());
                       },
                   .on_execute = Echo,
                   .on_disconnect = {}});
  server_ref = server.get();

  // Each client connects once the one before has been handled, so the order of the handler
  // calls is the order of acceptance.
  std::vector<std::unique_ptr<LoopbackClient>> clients;
  for (std::size_t i = 0; i < 3; ++i) {
    clients.push_back(std::make_unique<LoopbackClient>(server->LocalPort()));
    ASSERT_TRUE(Eventually([&] {
      std::lock_guard lock(mutex);
      return connected.size() == i + 1;
    }));
  }
  {
    std::lock_guard lock(mutex);
    EXPECT_EQ(connected, Listed(*server));
    EXPECT_THAT(listed_at_connect, ElementsAre(true, true, true));
  }

  // The middle one leaves; the others keep their order.
  clients[1]->Close();
  ASSERT_TRUE(Eventually([&] { return server->ConnectionCount() == 2; }));
  EXPECT_THAT(Listed(*server), ElementsAre(connected[0], connected[2]));

  // CloseOldest ends the first in the list and no other.
  server->CloseOldest();
  EXPECT_TRUE(clients[0]->WaitClosed(kPatience));
  ASSERT_TRUE(Eventually([&] { return server->ConnectionCount() == 1; }));
  EXPECT_THAT(Listed(*server), ElementsAre(connected[2]));
  clients[2]->Send("still here");
  EXPECT_EQ("still here", clients[2]->Receive(10, kPatience));
}

struct ReadCase {
  const char* name;
  // The client sends each batch (one send per text), waits until the server holds all of it,
  // then lets the handler read until the batch is consumed.
  std::vector<std::vector<std::string>> batches;
  std::vector<std::size_t> expected_sizes;  // of the buffers Read returns, in order
};

class TcpReadTest : public ::testing::TestWithParam<ReadCase> {};

const std::string kMessage = "5010 181234E13001005\x14";

TEST_P(TcpReadTest, ReturnsWhatOneReceiveDelivers) {
  Gate gate;
  std::mutex mutex;
  std::vector<std::string> buffers;
  auto server = StartServer({.on_connect = {},
                             .on_execute =
                                 [&](TcpConnection& connection) {
                                   if (!gate.Pass(connection.StopToken())) return;
                                   std::string buffer = connection.Read();
                                   std::lock_guard lock(mutex);
                                   buffers.push_back(std::move(buffer));
                                 },
                             .on_disconnect = {}});
  LoopbackClient client(server->LocalPort());
  std::string sent;
  std::size_t consumed = 0;
  for (const auto& batch : GetParam().batches) {
    for (const auto& text : batch) {
      client.Send(text);
      sent += text;
    }
    ASSERT_TRUE(client.WaitDelivered(kPatience));
    while (consumed < sent.size()) {
      const std::size_t before = [&] {
        std::lock_guard lock(mutex);
        return buffers.size();
      }();
      gate.Open();
      ASSERT_TRUE(Eventually([&] {
        std::lock_guard lock(mutex);
        return buffers.size() > before;
      }));
      std::lock_guard lock(mutex);
      consumed += buffers.back().size();
    }
  }

  std::lock_guard lock(mutex);
  std::vector<std::size_t> sizes;
  std::string joined;
  for (const auto& buffer : buffers) {
    sizes.push_back(buffer.size());
    joined += buffer;
  }
  EXPECT_THAT(sizes, ElementsAreArray(GetParam().expected_sizes));
  EXPECT_EQ(sent, joined);
}

INSTANTIATE_TEST_SUITE_P(
    Buffers, TcpReadTest,
    ::testing::Values(ReadCase{"OneMessageInOneSegment", {{kMessage}}, {21}},
                      ReadCase{"SecondSegmentAfterTheFirstWasRead",
                               {{kMessage.substr(0, 10)}, {kMessage.substr(10)}},
                               {10, 11}},
                      ReadCase{"TwoMessagesWaitingTogether", {{kMessage, kMessage}}, {42}},
                      ReadCase{
                          "MoreThanOneReceiveHolds", {{std::string(40000, 'x')}}, {32768, 7232}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TcpServer, RunsConnectOnceExecuteAfterEachReturnThenDisconnectOnPeerClose) {
  Trace trace;
  auto server = StartServer({.on_connect = [&](TcpConnection&) { trace.Add("connect"); },
                             .on_execute =
                                 [&](TcpConnection& connection) {
                                   const std::string buffer = connection.Read();
                                   trace.Add("execute:" + buffer +
                                             (connection.Connected() ? "" : " (ended)"));
                                   if (!buffer.empty()) connection.Write(BytesOf("ok"));
                                 },
                             .on_disconnect = [&](TcpConnection&) { trace.Add("disconnect"); }});

  LoopbackClient client(server->LocalPort());
  client.Send("first");
  ASSERT_EQ("ok", client.Receive(2, kPatience));
  client.Send("second");
  ASSERT_EQ("ok", client.Receive(2, kPatience));
  client.Close();

  ASSERT_TRUE(Eventually([&] { return server->ConnectionCount() == 0; }));
  EXPECT_THAT(trace.Entries(), ElementsAre("connect", "execute:first", "execute:second",
                                           "execute: (ended)", "disconnect"));
}

TEST(TcpServer, CloseFromAnotherThreadEndsABlockedReadWithAnError) {
  Trace trace;
  auto server = StartServer({.on_connect = {},
                             .on_execute =
                                 [&](TcpConnection& connection) {
                                   trace.Add("reading");
                                   try {
                                     connection.Read();
                                     trace.Add("read returned");
                                   } catch (const NetworkError&) {
                                     trace.Add("read failed");
                                   }
                                   try {
                                     connection.Write(BytesOf("late"));
                                     trace.Add("write succeeded");
                                   } catch (const NetworkError&) {
                                     trace.Add("write failed");
                                   }
                                 },
                             .on_disconnect = [&](TcpConnection&) { trace.Add("disconnect"); }});
  LoopbackClient closed_client(server->LocalPort());
  ASSERT_TRUE(Eventually([&] { return trace.Count("reading") == 1; }));
  LoopbackClient other_client(server->LocalPort());
  ASSERT_TRUE(Eventually([&] { return trace.Count("reading") == 2; }));

  server->CloseOldest();

  EXPECT_TRUE(closed_client.WaitClosed(kPatience));
  ASSERT_TRUE(Eventually([&] { return trace.Count("disconnect") == 1; }));
  EXPECT_EQ(1, trace.Count("read failed"));
  EXPECT_EQ(1, trace.Count("write failed"));
  EXPECT_EQ(0, trace.Count("read returned"));
  // The other connection goes on blocking in its read.
  EXPECT_TRUE(Eventually([&] { return server->ConnectionCount() == 1; }));
  EXPECT_EQ(2, trace.Count("reading"));
}

TEST(TcpServer, SendToAPeerThatStopsReadingFailsInsteadOfBlockingForever) {
  std::promise<Clock::duration> stalled_for;
  auto server = StartServer({.on_connect = {},
                             .on_execute =
                                 [&](TcpConnection& connection) {
                                   const Bytes chunk(64 * 1024, 0x06);
                                   Clock::time_point last_progress = Clock::now();
                                   try {
                                     for (;;) {
                                       connection.Write(chunk);
                                       last_progress = Clock::now();
                                     }
                                   } catch (const NetworkError&) {
                                     stalled_for.set_value(Clock::now() - last_progress);
                                     throw;
                                   }
                                 },
                             .on_disconnect = {}});
  LoopbackClient silent(server->LocalPort());  // never reads
  auto failure = stalled_for.get_future();
  ASSERT_EQ(std::future_status::ready, failure.wait_for(kPatience * 3));
  EXPECT_GE(failure.get(), 5s);
  EXPECT_TRUE(Eventually([&] { return server->ConnectionCount() == 0; }));
}

TEST(TcpServer, AnExceptionInAHandlerClosesOnlyThatConnection) {
  Trace trace;
  auto server = StartServer({.on_connect =
                                 [&](TcpConnection& connection) {
                                   // The peer's first byte tells whether this connection fails at
                                   // once.
                                   if (connection.Read() == "C")
                                     throw std::runtime_error("refused at connect");
                                   connection.Write(BytesOf("accepted"));
                                 },
                             .on_execute =
                                 [&](TcpConnection& connection) {
                                   const std::string buffer = connection.Read();
                                   if (buffer == "boom") throw std::logic_error("handler failure");
                                   if (!buffer.empty()) connection.Write(BytesOf(buffer));
                                   trace.Add("executed");
                                 },
                             .on_disconnect = [&](TcpConnection&) { trace.Add("disconnect"); }});

  LoopbackClient survivor(server->LocalPort());
  survivor.Send("S");
  ASSERT_EQ("accepted", survivor.Receive(8, kPatience));

  LoopbackClient failing_at_execute(server->LocalPort());
  failing_at_execute.Send("E");
  ASSERT_EQ("accepted", failing_at_execute.Receive(8, kPatience));
  failing_at_execute.Send("boom");
  EXPECT_TRUE(failing_at_execute.WaitClosed(kPatience));

  LoopbackClient failing_at_connect(server->LocalPort());
  failing_at_connect.Send("C");
  EXPECT_TRUE(failing_at_connect.WaitClosed(kPatience));

  ASSERT_TRUE(Eventually([&] { return trace.Count("disconnect") == 2; }));
  EXPECT_EQ(0, trace.Count("executed"));
  survivor.Send("ping");
  EXPECT_EQ("ping", survivor.Receive(4, kPatience));
  EXPECT_TRUE(Eventually([&] { return server->ConnectionCount() == 1; }));
}

TEST(TcpServer, DeactivateEndsEveryConnectionThreadBeforeItReturns) {
  Trace trace;
  auto server =
      StartServer({.on_connect = {}, .on_execute = Echo, .on_disconnect = [&](TcpConnection&) {
                     trace.Add("disconnect");
                   }});
  const int port = server->LocalPort();
  std::vector<std::unique_ptr<LoopbackClient>> clients;
  for (int i = 0; i < 5; ++i) clients.push_back(std::make_unique<LoopbackClient>(port));
  ASSERT_TRUE(Eventually([&] { return server->ConnectionCount() == 5; }));

  server->Deactivate();

  EXPECT_FALSE(server->Active());
  EXPECT_EQ(5, trace.Count("disconnect"));
  EXPECT_EQ(0, server->ConnectionCount());
  for (auto& client : clients) EXPECT_TRUE(client->WaitClosed(kPatience));
  EXPECT_THROW(LoopbackClient{port}, std::runtime_error);

  // A second deactivation of the stopped server does nothing.
  EXPECT_NO_THROW(server->Deactivate());
  EXPECT_EQ(5, trace.Count("disconnect"));

  // And the server starts again on the same binding.
  server->SetBinding("127.0.0.1", port);
  server->Activate();
  LoopbackClient again(port);
  again.Send("back");
  EXPECT_EQ("back", again.Receive(4, kPatience));
}

TEST(TcpServer, DeactivateTimesOutOnAHandlerThatWillNotReturnAndStillStops) {
  std::mutex mutex;
  std::condition_variable released_changed;
  bool released = false;
  Trace trace;
  auto server =
      StartServer({.on_connect = {},
                   .on_execute =
                       [&](TcpConnection& connection) {
                         const std::string buffer = connection.Read();
                         if (buffer != "hang") {
                           if (!buffer.empty()) connection.Write(BytesOf(buffer));
                           return;
                         }
                         trace.Add("hanging");
                         // Ignores the stop request on purpose; bounded so the test cannot hang.
                         std::unique_lock lock(mutex);
                         released_changed.wait_for(lock, 4 * kPatience, [&] { return released; });
                       },
                   .on_disconnect = [&](TcpConnection&) { trace.Add("disconnect"); }});
  const int port = server->LocalPort();
  LoopbackClient stuck(port);
  stuck.Send("hang");
  ASSERT_TRUE(Eventually([&] { return trace.Count("hanging") == 1; }));

  const auto start = Clock::now();
  try {
    server->Deactivate();
    ADD_FAILURE() << "Deactivate returned although a connection thread is still running";
  } catch (const NetworkError& error) {
    EXPECT_STREQ("Server deactivation timed out: 1 connection threads still running after 5000 ms",
                 error.what());
  }
  const auto waited = Clock::now() - start;
  EXPECT_GE(waited, 4900ms);
  EXPECT_LT(waited, 15s);
  EXPECT_FALSE(server->Active());

  // Stopped all the same: it binds the same port again at once and serves while the old
  // thread still hangs.
  server->SetBinding("127.0.0.1", port);
  ASSERT_NO_THROW(server->Activate());
  LoopbackClient fresh(port);
  fresh.Send("hello");
  EXPECT_EQ("hello", fresh.Receive(5, kPatience));

  {
    std::lock_guard lock(mutex);
    released = true;
  }
  released_changed.notify_all();
  EXPECT_NO_THROW(server->Deactivate());
  EXPECT_EQ(2, trace.Count("disconnect"));
  EXPECT_TRUE(stuck.WaitClosed(kPatience));
}

TEST(TcpServer, DestroyingTheServerLeavesAThreadThatOutlivesItToEndAlone) {
  std::mutex mutex;
  std::condition_variable released_changed;
  bool released = false;
  auto ended = std::make_shared<std::promise<void>>();
  auto ended_future = ended->get_future();
  std::atomic<int> handler_calls_after_release{0};
  Trace trace;
  {
    // Set when the handlers, which hold it, are destroyed.
    struct Marker {
      explicit Marker(std::shared_ptr<std::promise<void>> ended) : ended(std::move(ended)) {}
      ~Marker() { ended->set_value(); }
      std::shared_ptr<std::promise<void>> ended;
    };
    auto marker = std::make_shared<Marker>(ended);
    auto server =
        StartServer({.on_connect = {},
                     .on_execute =
                         [&, marker](TcpConnection& connection) {
                           if (connection.Read() != "hang") return;
                           trace.Add("hanging");
                           std::unique_lock lock(mutex);
                           released_changed.wait_for(lock, 4 * kPatience, [&] { return released; });
                         },
                     .on_disconnect = [&handler_calls_after_release](
                                          TcpConnection&) { ++handler_calls_after_release; }});
    marker.reset();
    LoopbackClient stuck(server->LocalPort());
    stuck.Send("hang");
    ASSERT_TRUE(Eventually([&] { return trace.Count("hanging") == 1; }));
    // The destructor gives up after its 5 s wait rather than waiting for ever.
  }
  {
    std::lock_guard lock(mutex);
    released = true;
  }
  released_changed.notify_all();
  // The handlers, and the marker they hold, go when the last thread has finished with them.
  EXPECT_EQ(std::future_status::ready, ended_future.wait_for(kPatience));
  EXPECT_EQ(0, handler_calls_after_release.load());
}

TEST(TcpServer, ActivationFailuresNameTheBindingAndTheReason) {
  TcpServer holder({});
  holder.SetBinding("127.0.0.1", 0);
  holder.Activate();
  const int taken = holder.LocalPort();

  struct Case {
    std::string address;
    int port;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"127.0.0.1", taken,
       "Could not bind socket to 127.0.0.1:" + std::to_string(taken) + ": Address already in use"},
      {"256.0.0.1", 5551, "Could not bind socket to 256.0.0.1:5551: not an IPv4 address"},
      {"localhost", 5551, "Could not bind socket to localhost:5551: not an IPv4 address"},
      {"", 5551, "Could not bind socket to :5551: not an IPv4 address"},
      {"127.0.0.1", 65536, "Could not bind socket to 127.0.0.1:65536: port out of range 0-65535"},
      {"127.0.0.1", -1, "Could not bind socket to 127.0.0.1:-1: port out of range 0-65535"},
      {"192.0.2.1", 5551,
       "Could not bind socket to 192.0.2.1:5551: Cannot assign requested address"},
  };
  TcpServer server({});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.address + " " + std::to_string(c.port));
    server.SetBinding(c.address, c.port);
    try {
      server.Activate();
      ADD_FAILURE() << "activated";
    } catch (const NetworkError& error) {
      EXPECT_EQ(c.message, error.what());
    }
    EXPECT_FALSE(server.Active());
  }
  // A failed activation leaves nothing behind that stops a good one.
  server.SetBinding("0.0.0.0", 0);
  EXPECT_NO_THROW(server.Activate());
  EXPECT_TRUE(server.Active());
}

TEST(TcpServer, TheListLockMayBeTakenAgainByTheThreadHoldingIt) {
  auto server = StartServer({.on_connect = {}, .on_execute = Echo, .on_disconnect = {}});
  LoopbackClient first(server->LocalPort());
  LoopbackClient second(server->LocalPort());
  ASSERT_TRUE(Eventually([&] { return server->ConnectionCount() == 2; }));

  // What the stop operation does: hold the lock, let a timer count the list from the same
  // thread, close connections from inside the walk. Run aside so that a lock that cannot be
  // taken again fails the test instead of hanging it.
  std::promise<std::vector<int>> result;
  auto walk = result.get_future();
  std::thread([&server, result = std::move(result)]() mutable {
    std::vector<int> counts;
    {
      std::lock_guard held(server->ListLock());
      server->ForEachConnection([&](TcpConnection&) {
        counts.push_back(server->ConnectionCount());
        std::lock_guard again(server->ListLock());
        server->CloseOldest();
      });
      counts.push_back(server->ConnectionCount());
    }
    result.set_value(counts);
  }).detach();
  if (walk.wait_for(kPatience) != std::future_status::ready) {
    // The walking thread holds the lock for good: no teardown can succeed.
    std::fprintf(stderr, "the list lock deadlocked when taken again\n");
    std::_Exit(1);
  }
  // Closed connections stay listed until their threads end, and those wait for the lock.
  EXPECT_THAT(walk.get(), ElementsAre(2, 2, 2));
  EXPECT_TRUE(first.WaitClosed(kPatience));
  ASSERT_TRUE(Eventually([&] { return server->ConnectionCount() == 1; }));
}

TEST(TcpServer, DeactivateFromAConnectionThreadDoesNotWaitForItself) {
  Trace trace;
  TcpServer* server_ref = nullptr;
  auto server = StartServer({.on_connect = {},
                             .on_execute =
                                 [&](TcpConnection& connection) {
                                   if (connection.Read() != "stop") return;
                                   const auto start = Clock::now();
                                   try {
                                     server_ref->Deactivate();
                                     trace.Add("stopped");
                                   } catch (const NetworkError& error) {
                                     trace.Add(error.what());
                                   }
                                   if (Clock::now() - start < 4s) trace.Add("in time");
                                 },
                             .on_disconnect = [&](TcpConnection&) { trace.Add("disconnect"); }});
  server_ref = server.get();
  LoopbackClient other(server->LocalPort());
  LoopbackClient stopping(server->LocalPort());
  ASSERT_TRUE(Eventually([&] { return server->ConnectionCount() == 2; }));
  stopping.Send("stop");
  ASSERT_TRUE(Eventually([&] { return trace.Count("disconnect") == 2; }));
  EXPECT_THAT(trace.Entries(), ElementsAre("disconnect", "stopped", "in time", "disconnect"));
  EXPECT_FALSE(server->Active());
  EXPECT_TRUE(other.WaitClosed(kPatience));
}

TEST(TcpServer, IdleConnectionsCostNoProcessorTime) {
  // No execute handler either: the server then reads and drops, still without spinning.
  auto server = StartServer({});
  const auto clients = ConnectMany(*server, 50);
  clients.front()->Send("dropped");

  const auto cpu_seconds = [] {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  };
  const double before = cpu_seconds();
  std::this_thread::sleep_for(500ms);
  // A single spinning thread would take the whole half second.
  EXPECT_LT(cpu_seconds() - before, 0.25);
  EXPECT_EQ(50, server->ConnectionCount());
}

void RaiseDescriptorLimit() {
  rlimit limit{};
  ASSERT_EQ(0, ::getrlimit(RLIMIT_NOFILE, &limit));
  limit.rlim_cur = limit.rlim_max;
  ASSERT_EQ(0, ::setrlimit(RLIMIT_NOFILE, &limit));
}

TEST(TcpServer, ServesManyConnectionsAtOnce) {
  RaiseDescriptorLimit();
  // The gateway must carry a thousand; under ThreadSanitizer, whose threads are slow to start,
  // a few hundred show the races just as well.
#if defined(__SANITIZE_THREAD__)
  constexpr int kConnections = 300;
#else
  constexpr int kConnections = 1000;
#endif
  Trace trace;
  auto server =
      StartServer({.on_connect = {}, .on_execute = Echo, .on_disconnect = [&](TcpConnection&) {
                     trace.Add("disconnect");
                   }});
  const auto clients = ConnectMany(*server, kConnections);
  for (int i = 0; i < kConnections; ++i) clients[i]->Send(std::to_string(i));
  for (int i = 0; i < kConnections; ++i) {
    const std::string expected = std::to_string(i);
    EXPECT_EQ(expected, clients[i]->Receive(expected.size(), kPatience));
  }
  server->Deactivate();
  EXPECT_EQ(kConnections, trace.Count("disconnect"));
}

}  // namespace
}  // namespace gateway
