// How long a supervision tick keeps the window's thread from its events: the gaps between two
// event pumps during ticks over 1000 objects, some due for a fault or restore report, while
// connection threads keep the console link busy with relay-like exchanges (a preliminary read
// of 40, a 9-byte frame, a read of 100). The console, on a pseudo-terminal, answers every frame
// at once. Prints the longest gap, the 99th percentile and the median, and each tick's length.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <exception>
#include <memory>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "channels/console_link.h"
#include "fixtures/answering_console.h"
#include "fixtures/pty_pair.h"
#include "supervision/gateway_state.h"
#include "supervision/object_table.h"
#include "supervision/test_supervision.h"

namespace gateway {
namespace {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::duration<double, std::milli>;

constexpr int kObjects = 1000;
constexpr int kDueEvery = 50;  // every 50th object has the limit "000": due at every tick
constexpr int kTicks = 5;
const Bytes kRelayFrame = {0x1E, 0x06, 0x02, 0xD1, 0x04, 0x01, 0x50, 0x14, 0xB0};

// The object list: numbers 0001 to 1000, every kDueEvery-th one due at once, the rest far from
// their limit.
std::string ObjectList() {
  std::string list;
  for (int i = 1; i <= kObjects; ++i) {
    char line[32];
    std::snprintf(line, sizeof line, ":%04d            %s\n", i,
                  i % kDueEvery == 0 ? "000" : "180");
    list += line;
  }
  return list;
}

double At(const std::vector<double>& sorted, double q) {
  return sorted[std::min(sorted.size() - 1, static_cast<std::size_t>(q * sorted.size()))];
}

struct Run {
  std::vector<double> gaps;        // between tick start, every pump and tick end
  std::vector<double> tick_times;  // each tick, start to end
  int relays = 0;
  std::size_t frames = 0;
};

Run Measure(int connection_threads) {
  PtyPair pty;
  ConsoleLink link;
  link.SetPortName(pty.PortName());
  link.Open();
  AnsweringConsole console(pty);

  ObjectTable table;
  table.Load(ObjectList(), [] {});
  GatewayState state;
  Run run;
  Clock::time_point last = Clock::now();
  auto mark = [&] {
    const Clock::time_point now = Clock::now();
    run.gaps.push_back(Ms(now - last).count());
    last = now;
  };
  TestSupervision supervision(table, state, link,
                              SupervisionHooks{mark, [] {}, [](const std::string&) {}});

  std::atomic<int> relays{0};
  std::stop_source stop;
  {
    std::vector<std::jthread> connections;
    for (int i = 0; i < connection_threads; ++i) {
      connections.emplace_back([&] {
        while (std::unique_ptr<LinkSession> session = link.Acquire(stop.get_token())) {
          try {
            session->Read(40);
            WriteFrame(*session, kRelayFrame);
            session->Read(100);
          } catch (const std::exception&) {
            return;
          }
          session.reset();
          ++relays;
        }
      });
    }
    // Let every connection thread get going before the first tick.
    while (relays.load() < connection_threads)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));

    SupervisionTickInput input;
    input.connected = true;
    for (int tick = 0; tick < kTicks; ++tick) {
      const Clock::time_point start = Clock::now();
      last = start;
      supervision.Tick(input);
      mark();
      run.tick_times.push_back(Ms(Clock::now() - start).count());
    }
    stop.request_stop();
  }
  run.relays = relays.load();
  console.Stop();
  run.frames = console.Frames().size();
  return run;
}

void Print(const char* what, Run run) {
  std::sort(run.gaps.begin(), run.gaps.end());
  std::printf("%s\n", what);
  std::printf("  gaps between event pumps: %zu, max %.3f ms, p99 %.3f ms, median %.4f ms\n",
              run.gaps.size(), run.gaps.back(), At(run.gaps, 0.99), At(run.gaps, 0.5));
  std::printf("  tick times:");
  for (double t : run.tick_times) std::printf(" %.1f", t);
  std::printf(" ms\n  relays meanwhile: %d, frames at the console: %zu\n", run.relays, run.frames);
}

}  // namespace
}  // namespace gateway

int main() {
  using namespace gateway;
  std::printf("supervision ticks over %d objects, %d due per tick, %d ticks\n", kObjects,
              kObjects / kDueEvery, kTicks);
  Print("network idle:", Measure(0));
  Print("network busy, 4 connection threads relaying:", Measure(4));
  return 0;
}
