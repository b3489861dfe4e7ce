// Nothing is acknowledged that the console did not take. Several gateways run at once, each
// with its own console, which answers at once, stays silent, answers with 3 or 5 bytes, answers
// late, or vanishes in the middle of a frame; communicators send each gateway its share of more
// than ten thousand distinct lines, and every 0x06 they receive is held against the console's
// record afterwards.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "e2e/acknowledgement_audit.h"
#include "e2e/dev_link.h"
#include "e2e/gateway_process.h"
#include "e2e/scripted_console.h"
#include "e2e/station.h"
#include "e2e/traffic_scale.h"

namespace gateway::e2e {
namespace {

using namespace std::chrono_literals;

// A reply rule that draws from `weights` (indexed by ReplyKind) with its own seeded generator.
// A late reply comes between 102 ms (just past the gateway's wait) and 400 ms after its frame.
// Unless `answer_second_link_test`, the frame that follows a bad link-test reply goes
// unanswered: the gateway reads no reply to it, so an answer would be left for the next
// exchange, which only the count rule allows for.
ReplyRule DrawnReplies(std::uint64_t seed, std::vector<int> weights,
                       bool answer_second_link_test = false) {
  auto random = std::make_shared<std::mt19937_64>(seed);
  auto pick = std::make_shared<std::discrete_distribution<int>>(weights.begin(), weights.end());
  return [=](const Bytes& frame) {
    if (IsSecondLinkTestFrame(frame) && !answer_second_link_test) return Reply{ReplyKind::kNone};
    Reply reply{static_cast<ReplyKind>((*pick)(*random))};
    if (reply.kind == ReplyKind::kLate) {
      reply.delay = std::chrono::milliseconds(102 + (*random)() % 299);
    }
    return reply;
  };
}

//                                 ack none short long late
const std::vector<int> kAlways = {1, 0, 0, 0, 0};
const std::vector<int> kMixed = {55, 20, 15, 10, 0};
const std::vector<int> kLateMix = {50, 20, 0, 0, 30};
const std::vector<int> kSilent = {0, 1, 0, 0, 0};

struct InstancePlan {
  std::string name;
  int lines = 0;
  int connections = 6;
  std::string heartbeat_period;
  AuditRule rule = AuditRule::kExact;
  std::vector<int> weights;
  bool answer_second_link_test = false;
  int vanish_cycles = 0;  // the console vanishes once in each cycle, then all starts again
};

struct InstanceRun {
  std::vector<AuditResult> audits;  // one per gateway run
  std::vector<std::string> failures;
  std::vector<std::string> notes;
  int sent = 0;
  double seconds = 0;
};

GatewayOptions OptionsFor(const ScriptedConsole& console, const std::string& heartbeat_period) {
  GatewayOptions options;
  options.program = GATEWAY_PROGRAM;
  options.console_port = console.PortName();
  options.console_device = console.SlavePath();
  options.heartbeat_period = heartbeat_period;
  return options;
}

int SentLines(const std::vector<LineResult>& results) {
  return static_cast<int>(std::count_if(results.begin(), results.end(), [](const LineResult& r) {
    return r.outcome != Outcome::kError;
  }));
}

// What the gateway still holds of its console port once the console has vanished.
std::string PortAfterVanishing(const GatewayProcess& gateway) {
  const std::vector<std::string> terminals = gateway.TerminalDescriptors();
  if (terminals.empty()) return "port closed (write failure handling)";
  return "port left open on the dead line (" + terminals.front() + ")";
}

void CheckGatewayEnd(GatewayProcess& gateway, const std::string& name, InstanceRun& run) {
  for (const std::string& report : gateway.SanitizerReports()) {
    run.failures.push_back(name + ": sanitizer: " + report);
  }
  const std::string ended = gateway.Stop();
  if (!ended.empty()) {
    run.failures.push_back(name + ": the gateway " + ended + " before the end; output:\n" +
                           gateway.Output());
  }
}

// One gateway and one console for the whole plan.
void RunSteady(const InstancePlan& plan, std::uint64_t seed, InstanceRun& run) {
  std::mt19937_64 random(seed);
  const std::vector<std::string> lines = DistinctLines(plan.lines, random);
  ScriptedConsole console(DevLink::UniqueName(),
                          DrawnReplies(seed, plan.weights, plan.answer_second_link_test));
  GatewayProcess gateway(OptionsFor(console, plan.heartbeat_period));
  StationPlan station;
  station.port = gateway.port();
  station.connections = plan.connections;
  const std::vector<LineResult> results = RunStation(lines, station);
  run.sent += SentLines(results);
  // Late answers still on their way land in the console's record.
  std::this_thread::sleep_for(500ms);
  CheckGatewayEnd(gateway, plan.name, run);
  run.audits.push_back(
      Audit({results, console.Frames(), console.StrayBytes(), plan.rule, console.Stalls()}));
}

// Cycles of: a console that acknowledges at once until, after a drawn number of event frames,
// it vanishes in the middle of one; the communicators go on for a while, then the gateway is
// restarted with a new console on the same link.
void RunVanishing(const InstancePlan& plan, std::uint64_t seed, InstanceRun& run) {
  std::mt19937_64 random(seed);
  const std::string link = DevLink::UniqueName();
  const int per_cycle = plan.lines / plan.vanish_cycles;
  for (int cycle = 1; cycle <= plan.vanish_cycles; ++cycle) {
    const std::string name = plan.name + " cycle " + std::to_string(cycle);
    const std::vector<std::string> lines = DistinctLines(per_cycle, random);
    const int frames_before = per_cycle / 4 + static_cast<int>(random() % (per_cycle / 2));
    ScriptedConsole console(link, DrawnReplies(seed + cycle, kAlways));
    GatewayProcess gateway(OptionsFor(console, plan.heartbeat_period));
    std::atomic<bool> going{true};
    std::vector<LineResult> results;
    std::jthread communicators([&] {
      StationPlan station;
      station.port = gateway.port();
      station.connections = plan.connections;
      station.keep_going = [&] { return going.load(); };
      results = RunStation(lines, station);
    });
    const bool enough = console.WaitUntil(
        [&](const std::vector<FrameEntry>& frames) {
          return std::count_if(frames.begin(), frames.end(), [](const FrameEntry& entry) {
                   return entry.frame.size() > 4;
                 }) >= frames_before;
        },
        120s);
    console.VanishAtNextEventFrame();
    const bool vanished = console.WaitUntil(
        [](const std::vector<FrameEntry>& frames) {
          return !frames.empty() && !frames.back().complete;
        },
        30s);
    // The communicators keep sending for a while after the console has gone: none of those
    // lines may be acknowledged.
    std::this_thread::sleep_for(1500ms);
    going = false;
    communicators.join();
    run.sent += SentLines(results);
    if (!enough || !vanished) {
      run.failures.push_back(name + ": the console did not get to vanish (" +
                             std::to_string(console.Frames().size()) + " frames)");
    } else {
      run.notes.push_back(name + ": vanished after " + std::to_string(frames_before) +
                          " event frames; " + PortAfterVanishing(gateway));
    }
    CheckGatewayEnd(gateway, name, run);
    run.audits.push_back(
        Audit({results, console.Frames(), console.StrayBytes(), plan.rule, console.Stalls()}));
  }
}

TEST(AcknowledgementE2eTest, EveryAcknowledgementStandsForAFrameTheConsoleTook) {
  if (!CanPlaceDevLinks()) GTEST_SKIP() << "needs root: the consoles are linked into /dev";
  DevLink::RemoveLeftovers();

  const std::vector<InstancePlan> plans = {
      {"at once, default link tests", Scaled(2300), 6, "11234", AuditRule::kExact, kAlways},
      {"at once, link test every second", Scaled(2300), 6, "1000", AuditRule::kExact, kAlways},
      {"mixed answers, link tests every 0.7 s", Scaled(1300), 14, "700", AuditRule::kExact, kMixed},
      {"mixed answers, default link tests", Scaled(1200), 14, "11234", AuditRule::kExact, kMixed},
      {"late answers", Scaled(1050), 14, "900", AuditRule::kCounts, kLateMix, true},
      {"silent console", Scaled(450), 24, "11234", AuditRule::kExact, kSilent},
      {"vanishing console", Scaled(2100), 6, "11234", AuditRule::kExact, kAlways, false, 6},
  };
  const std::uint64_t seed = 20240611;
  std::vector<InstanceRun> runs(plans.size());
  {
    std::vector<std::jthread> instances;
    for (std::size_t i = 0; i < plans.size(); ++i) {
      instances.emplace_back([&, i] {
        const auto start = Clock::now();
        try {
          if (plans[i].vanish_cycles > 0) {
            RunVanishing(plans[i], seed + 1000 * i, runs[i]);
          } else {
            RunSteady(plans[i], seed + 1000 * i, runs[i]);
          }
        } catch (const std::exception& failure) {
          runs[i].failures.push_back(plans[i].name + ": " + failure.what());
        }
        runs[i].seconds = std::chrono::duration<double>(Clock::now() - start).count();
      });
    }
  }

  int sent = 0;
  int acked = 0;
  int violations = 0;
  std::printf("seed %llu\n", static_cast<unsigned long long>(seed));
  for (std::size_t i = 0; i < plans.size(); ++i) {
    const InstanceRun& run = runs[i];
    sent += run.sent;
    for (std::size_t a = 0; a < run.audits.size(); ++a) {
      const AuditResult& audit = run.audits[a];
      const std::string name =
          plans[i].name + (run.audits.size() > 1 ? " #" + std::to_string(a + 1) : "");
      std::printf("%s\n", audit.Summary(name).c_str());
      acked += audit.figures.acked;
      violations += static_cast<int>(audit.violations.size());
      EXPECT_TRUE(audit.violations.empty()) << name;
    }
    std::printf("  %d lines sent in %.0f s, %.1f lines a second\n", run.sent, run.seconds,
                run.seconds > 0 ? run.sent / run.seconds : 0.0);
    for (const std::string& note : run.notes) std::printf("  %s\n", note.c_str());
    for (const std::string& failure : run.failures) ADD_FAILURE() << failure;
  }
  std::printf("in all: %d lines sent to %zu gateways, %d acknowledged, %d violations\n", sent,
              plans.size(), acked, violations);
  std::fflush(stdout);
  EXPECT_GE(sent, static_cast<int>(10000 * TrafficScale()));
  // A gateway that let nothing through would pass every check above: where the console answers
  // every frame at once, most lines must be acknowledged.
  for (std::size_t i : {0, 1}) {
    const int acked_here = runs[i].audits.empty() ? 0 : runs[i].audits[0].figures.acked;
    EXPECT_GT(acked_here, plans[i].lines / 2) << plans[i].name;
  }
}

}  // namespace
}  // namespace gateway::e2e
