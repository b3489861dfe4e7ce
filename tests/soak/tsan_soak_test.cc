// The soak: Zorvan_Server built with ThreadSanitizer, driven for a few minutes at the relay's full
// rate by communicators, a console whose answers come at once, late, short, long or not at all,
// link tests every half second, and a stream of refused buffers and dropped connections. The
// gateway must report no race, stay up, keep the acknowledgement rule and end with the
// descriptors and threads it had at rest.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "e2e/acknowledgement_audit.h"
#include "e2e/dev_link.h"
#include "e2e/gateway_process.h"
#include "e2e/scripted_console.h"
#include "e2e/station.h"

namespace gateway::e2e {
namespace {

using namespace std::chrono_literals;

constexpr int kGateways = 2;
constexpr int kDefaultSeconds = 180;

int SoakSeconds() {
  const char* text = std::getenv("GATEWAY_SOAK_SECONDS");
  const int seconds = text != nullptr ? std::atoi(text) : 0;
  return seconds > 0 ? seconds : kDefaultSeconds;
}

ReplyRule MixedReplies(std::uint64_t seed) {
  auto random = std::make_shared<std::mt19937_64>(seed);
  //                                               ack none short long late
  auto pick = std::make_shared<std::discrete_distribution<int>>(
      std::initializer_list<double>{55, 10, 10, 5, 20});
  return [=](const Bytes&) {
    Reply reply{static_cast<ReplyKind>((*pick)(*random))};
    if (reply.kind == ReplyKind::kLate) {
      reply.delay = std::chrono::milliseconds(102 + (*random)() % 299);
    }
    return reply;
  };
}

// Buffers the gateway refuses or cannot convert, and connections dropped in every way, two a
// second on connections of their own. None of them yields a frame. Each costs the gateway a
// turn on the console port (its read before the buffer is examined), so many more would crowd
// out the communicators.
void Disturb(int port, std::uint64_t seed, const std::atomic<bool>& going, int& disturbances) {
  std::mt19937_64 random(seed);
  while (going) {
    try {
      Peer peer(port);
      switch (random() % 5) {
        case 0: {
          std::string junk(1 + random() % 400, '\0');
          for (char& c : junk) c = static_cast<char>('6' + random() % 40);
          peer.Send(junk);
          break;
        }
        case 1:
          peer.Send(ReceiverLine("12A4", "E130", "01", "005"));
          break;
        case 2:
          peer.HalfClose();
          break;
        case 3:
          peer.Reset();
          break;
        default:
          break;  // connects and goes at once
      }
      ++disturbances;
    } catch (const std::runtime_error&) {
    }
    std::this_thread::sleep_for(500ms);
  }
}

struct SoakRun {
  AuditResult audit;
  std::vector<std::string> failures;
  int disturbances = 0;
  int descriptors_before = 0, threads_before = 0;
  int descriptors_after = 0, threads_after = 0;
};

void Soak(int index, Clock::time_point deadline, SoakRun& run) {
  const std::uint64_t seed = 77 + index;
  ScriptedConsole console(DevLink::UniqueName(), MixedReplies(seed));
  GatewayOptions options;
  options.program = GATEWAY_PROGRAM;
  options.console_port = console.PortName();
  options.console_device = console.SlavePath();
  options.heartbeat_period = "500";
  options.environment = {std::string("TSAN_OPTIONS=halt_on_error=0 second_deadlock_stack=1 "
                                     "suppressions=") +
                         GATEWAY_TSAN_SUPPRESSIONS};
  options.start_limit = 60s;
  GatewayProcess gateway(options);
  std::this_thread::sleep_for(2s);
  run.descriptors_before = gateway.DescriptorCount();
  run.threads_before = gateway.ThreadCount();

  std::mt19937_64 random(seed);
  const std::vector<std::string> lines = DistinctLines(9999, random);
  std::atomic<bool> going{true};
  std::jthread disturber([&] { Disturb(gateway.port(), seed, going, run.disturbances); });
  StationPlan station;
  station.port = gateway.port();
  station.connections = 12;
  station.lines_per_connection = 20;
  station.reply_timeout = 5s;
  station.keep_going = [&] { return Clock::now() < deadline; };
  const std::vector<LineResult> results = RunStation(lines, station);
  going = false;
  disturber.join();
  std::this_thread::sleep_for(500ms);

  Eventually([&] { return gateway.ThreadCount() <= run.threads_before; }, 60s);
  run.descriptors_after = gateway.DescriptorCount();
  run.threads_after = gateway.ThreadCount();
  for (const std::string& report : gateway.SanitizerReports()) run.failures.push_back(report);
  const std::string ended = gateway.Stop();
  if (!ended.empty()) run.failures.push_back("the gateway " + ended + " during the soak");
  if (!run.failures.empty()) run.failures.push_back("gateway output:\n" + gateway.Output());
  run.audit = Audit(
      {results, console.Frames(), console.StrayBytes(), AuditRule::kCounts, console.Stalls()});
}

TEST(TsanSoakTest, GatewayRunsAtFullRateWithoutARace) {
  if (!CanPlaceDevLinks()) GTEST_SKIP() << "needs root: the consoles are linked into /dev";
  DevLink::RemoveLeftovers();
  const int seconds = SoakSeconds();
  const auto deadline = Clock::now() + std::chrono::seconds(seconds);
  std::vector<SoakRun> runs(kGateways);
  {
    std::vector<std::jthread> soaks;
    for (int i = 0; i < kGateways; ++i) {
      soaks.emplace_back([&, i] {
        try {
          Soak(i, deadline, runs[i]);
        } catch (const std::exception& failure) {
          runs[i].failures.push_back(failure.what());
        }
      });
    }
  }
  std::printf("soak of %d s on %d gateways built with ThreadSanitizer\n", seconds, kGateways);
  for (int i = 0; i < kGateways; ++i) {
    const SoakRun& run = runs[i];
    const std::string name = "gateway " + std::to_string(i + 1);
    std::printf(
        "%s\n  %d disturbances; descriptors %d before, %d after; threads %d before, %d "
        "after\n",
        run.audit.Summary(name).c_str(), run.disturbances, run.descriptors_before,
        run.descriptors_after, run.threads_before, run.threads_after);
    EXPECT_TRUE(run.audit.violations.empty()) << name;
    EXPECT_EQ(run.descriptors_after, run.descriptors_before) << name;
    EXPECT_EQ(run.threads_after, run.threads_before) << name;
    EXPECT_GT(run.audit.figures.acked, 0) << name;
    for (const std::string& failure : run.failures) ADD_FAILURE() << name << ": " << failure;
  }
  std::fflush(stdout);
}

}  // namespace
}  // namespace gateway::e2e
