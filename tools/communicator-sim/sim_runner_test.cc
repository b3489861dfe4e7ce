#include "communicator-sim/sim_runner.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "channels/tcp_server.h"
#include "communicator-sim/communicator_link.h"

namespace gateway {
namespace {

using namespace std::chrono_literals;
using ::testing::Each;
using ::testing::ElementsAre;

std::string LineFrom(const std::string& account) { return "5010 18" + account + "E13001005\x14"; }

// Stands in for the gateway: answers each buffer by the account it carries, after `delay`.
class StandInGateway {
 public:
  explicit StandInGateway(std::chrono::milliseconds delay = 0ms)
      : server_({.on_connect = [this](TcpConnection&) { ++connections_; },
                 .on_execute =
                     [this, delay](TcpConnection& connection) {
                       const std::string buffer = connection.Read();
                       if (buffer.empty()) return;
                       {
                         std::lock_guard lock(mutex_);
                         buffers_.push_back(buffer);
                       }
                       std::this_thread::sleep_for(delay);
                       const std::string account = buffer.substr(7, 4);
                       if (account == "0001") connection.Write(std::vector<std::uint8_t>{0x06});
                       if (account == "0002")
                         connection.Write(std::vector<std::uint8_t>{0x07, 0x00});
                       if (account == "0004") throw std::runtime_error("conversion error");
                       if (account == "0005") connection.Write(std::vector<std::uint8_t>{0x15});
                     },
                 .on_disconnect = {}}) {
    server_.SetBinding("127.0.0.1", 0);
    server_.Activate();
  }
  sockaddr_in Address() const { return ResolveGateway("127.0.0.1", server_.LocalPort()); }
  std::vector<std::string> Buffers() const {
    std::lock_guard lock(mutex_);
    return buffers_;
  }
  int Connections() const { return connections_; }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> buffers_;
  std::atomic<int> connections_{0};
  TcpServer server_;
};

TEST(RunSequence, ReportsEachOutcomeInOrderAndReconnectsAfterAClose) {
  StandInGateway gateway;
  const std::vector<std::string> lines = {LineFrom("0001"), LineFrom("0002"), LineFrom("0003"),
                                          LineFrom("0004"), LineFrom("0001"), LineFrom("0005")};
  std::vector<Exchange> exchanges;
  const RunResult result =
      RunSequence(gateway.Address(), lines, {.timeout = 300ms, .interval = 0ms},
                  [&](const Exchange& exchange) { exchanges.push_back(exchange); });

  ASSERT_EQ(6u, exchanges.size());
  std::vector<Outcome> outcomes;
  for (const auto& exchange : exchanges) outcomes.push_back(exchange.outcome);
  EXPECT_THAT(outcomes, ElementsAre(Outcome::kAck, Outcome::kPoll, Outcome::kSilent,
                                    Outcome::kClosed, Outcome::kAck, Outcome::kOther));
  EXPECT_EQ(1u, exchanges[0].index);
  EXPECT_EQ(lines[1], exchanges[1].line);
  EXPECT_EQ(std::string("\x07\x00", 2), exchanges[1].reply);
  EXPECT_EQ("\x15", exchanges[5].reply);
  EXPECT_GE(exchanges[2].latency_ms, 300);  // silence is known only at the time-out
  EXPECT_LT(exchanges[0].latency_ms, 300);
  // Each line arrived whole and alone; the close made a second connection.
  EXPECT_EQ(lines, gateway.Buffers());
  EXPECT_EQ(2, gateway.Connections());
  EXPECT_EQ(6u, result.statistics.Total());
  EXPECT_EQ(3u, result.statistics.Answered());
}

TEST(RunSequence, GivesAnErrorForEachLineWhenNothingListens) {
  sockaddr_in nowhere;
  {
    TcpServer closed({});
    closed.SetBinding("127.0.0.1", 0);
    closed.Activate();
    nowhere = ResolveGateway("127.0.0.1", closed.LocalPort());
  }
  std::vector<Exchange> exchanges;
  RunSequence(nowhere, {LineFrom("0001"), LineFrom("0001")}, {.timeout = 300ms, .interval = 0ms},
              [&](const Exchange& exchange) { exchanges.push_back(exchange); });
  ASSERT_EQ(2u, exchanges.size());
  for (const auto& exchange : exchanges) {
    EXPECT_EQ(Outcome::kError, exchange.outcome);
    EXPECT_EQ("Connection refused", exchange.detail);
  }
}

TEST(RunLoad, SpreadsLinesOverTheConnectionsOneOutstandingLineEach) {
  StandInGateway gateway;
  const RunResult result =
      RunLoad(gateway.Address(), {LineFrom("0001"), LineFrom("0002")},
              {.connections = 4, .rate = 200, .duration = 300ms, .timeout = 1000ms});
  const RunStatistics& statistics = result.statistics;
  EXPECT_GE(statistics.Total(), 4u);
  EXPECT_LE(statistics.Total(), 200 * 0.3 + 4) << "more than the rate allows";
  EXPECT_EQ(statistics.Total(), statistics.Count(Outcome::kAck) + statistics.Count(Outcome::kPoll));
  EXPECT_GE(statistics.Count(Outcome::kPoll), 1u);
  EXPECT_EQ(4, gateway.Connections());
  EXPECT_GE(result.elapsed_seconds, 0.3);
  EXPECT_THAT(gateway.Buffers(), Each(::testing::SizeIs(21)));
}

TEST(RunLoad, WaitsForEachOutcomeBeforeTheConnectionsNextLine) {
  // Answers take 50 ms: two connections can settle at most about 2 x 300 / 50 lines in
  // 300 ms, far below the asked-for rate.
  StandInGateway gateway(50ms);
  const RunResult result =
      RunLoad(gateway.Address(), {LineFrom("0001")},
              {.connections = 2, .rate = 1000, .duration = 300ms, .timeout = 1000ms});
  EXPECT_GE(result.statistics.Total(), 2u);
  EXPECT_LE(result.statistics.Total(), 2u * (300 / 50 + 1));
  EXPECT_EQ(result.statistics.Total(), result.statistics.Count(Outcome::kAck));
  EXPECT_GE(result.statistics.MedianMs(), 50);
  EXPECT_THAT(gateway.Buffers(), Each(::testing::SizeIs(21)));
}

}  // namespace
}  // namespace gateway
