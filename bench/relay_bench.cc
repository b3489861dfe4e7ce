// The network relay under load: the real TcpServer, NetworkRelay, ConsoleLink, GatewayState and
// ObjectTable in this process (no window), the console simulator answering every frame at once
// on a pseudo-terminal, and the communicator simulator's load mode, both as processes of their
// own. Prints the latency from a line's send to its 0x06 (median, 99th percentile), the
// throughput and this process's processor time per message for 1, 10 and 150 connections, and
// the processor time of 150 idle connections over 10 s, each beside its target.
//
// The floor per message: the preliminary read of a silent console (40 bytes: 41 ms) and the gap
// that ends the reply read (1 ms). Every exchange holds the console link for that long, so one
// connection's latency and every connection's throughput are bounded by it.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "channels/console_link.h"
#include "channels/network_relay.h"
#include "channels/poll_request.h"
#include "channels/tcp_server.h"
#include "fixtures/loopback_client.h"
#include "fixtures/temp_dir.h"
#include "supervision/gateway_state.h"
#include "supervision/object_table.h"

extern char** environ;

namespace gateway {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr double kFloorMs = 41.0 + 1.0;
constexpr double kLatencyMargin = 0.05;    // median latency of one connection within 5%
constexpr double kThroughputShare = 0.95;  // of one message per floor, with 150 connections
constexpr double kIdleCpuShare = 0.01;     // of one core, 150 idle connections
constexpr auto kIdleSpan = 10s;
constexpr auto kPatience = 20s;  // only reached when something is broken

double ProcessCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

bool WaitFor(const std::function<bool()>& condition, Clock::duration limit = kPatience) {
  const auto deadline = Clock::now() + limit;
  while (!condition()) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

// A child process started by this benchmark, with its standard output going to a pipe (read
// by Output) or to /dev/null.
class Child {
 public:
  Child(const std::vector<std::string>& arguments, bool capture) {
    std::vector<char*> argv;
    for (const std::string& argument : arguments) {
      argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    int out[2] = {-1, -1};
    if (capture) {
      if (pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
      posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    } else {
      posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    }
    const int failed = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (capture) {
      close(out[1]);
      output_fd_ = out[0];
    }
    if (failed != 0) {
      if (output_fd_ >= 0) close(output_fd_);
      throw std::runtime_error("cannot start " + arguments[0]);
    }
  }
  ~Child() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      Wait();
    }
    if (output_fd_ >= 0) close(output_fd_);
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  // Everything the child writes until it ends; then its exit status.
  std::string Output() {
    std::string text;
    char buffer[4096];
    ssize_t got;
    while ((got = read(output_fd_, buffer, sizeof buffer)) > 0) text.append(buffer, got);
    return text;
  }
  int Wait() {
    int status = 0;
    if (pid_ > 0) waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t pid_ = -1;
  int output_fd_ = -1;
};

// The key=value fields of the communicator simulator's machine summary.
std::map<std::string, std::string> SummaryFields(const std::string& output) {
  std::map<std::string, std::string> fields;
  std::istringstream lines(output);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.starts_with("summary ")) continue;
    std::istringstream words(line.substr(8));
    std::string word;
    while (words >> word) {
      const auto equals = word.find('=');
      if (equals != std::string::npos) fields[word.substr(0, equals)] = word.substr(equals + 1);
    }
  }
  return fields;
}

double Number(const std::map<std::string, std::string>& fields, const std::string& key) {
  const auto found = fields.find(key);
  return found == fields.end() ? 0 : std::atof(found->second.c_str());
}

// The gateway's side: server, relay, console link and shared state, wired as the window wires
// them, with the supervision tick's refresh of ConnectionCount.
class Gateway {
 public:
  explicit Gateway(const std::filesystem::path& device_folder)
      : link_(device_folder.string() + "/"),
        relay_(state_, objects_, link_, poll_, [this] { ++write_failures_; }),
        server_(TcpHandlers{
            [this](TcpConnection&) { CapConnections(server_, state_.ConnectionCount.load()); },
            [this](TcpConnection& connection) { relay_.Execute(connection); },
            nullptr,
        }),
        refresher_([this](std::stop_token stop) { RefreshCount(stop); }) {
    objects_.Load(":1234            03C\n:0427            03C\n:0001            03C\n", [] {});
    link_.SetPortName("ttyV0");
    link_.Open();
    server_.SetBinding("127.0.0.1", 0);
    server_.Activate();
  }
  ~Gateway() { server_.Deactivate(); }

  int Port() const { return server_.LocalPort(); }
  int Connections() { return server_.ConnectionCount(); }
  int WriteFailures() const { return write_failures_; }

 private:
  void RefreshCount(std::stop_token stop) {
    std::mutex mutex;
    std::condition_variable_any tick;
    std::unique_lock lock(mutex);
    while (!stop.stop_requested()) {
      tick.wait_for(lock, stop, 1s, [] { return false; });
      if (!stop.stop_requested()) state_.ConnectionCount = server_.ConnectionCount();
    }
  }

  GatewayState state_;
  ObjectTable objects_;
  PollRequest poll_;
  ConsoleLink link_;
  std::atomic<int> write_failures_{0};
  NetworkRelay relay_;
  TcpServer server_;
  std::jthread refresher_;
};

struct LoadRun {
  int connections;
  double rate;
  int seconds;
  int timeout_ms;
};

struct LoadFigures {
  double lines = 0;
  double acks = 0;
  double median_ms = 0;
  double p99_ms = 0;
  double max_ms = 0;
  double throughput = 0;
  double cpu_ms_per_message = 0;
};

LoadFigures RunLoad(Gateway& gateway, const LoadRun& run) {
  const double cpu_before = ProcessCpuSeconds();
  Child simulator(
      {GATEWAY_COMMUNICATOR_SIM, "--port", std::to_string(gateway.Port()), "--load", "--machine",
       "--connections", std::to_string(run.connections), "--rate", std::to_string(run.rate),
       "--duration", std::to_string(run.seconds), "--timeout", std::to_string(run.timeout_ms),
       "--accounts", "1234,0427,0001", "--events", "E130:005,R130:005"},
      true);
  const std::string output = simulator.Output();
  const int status = simulator.Wait();
  const double cpu = ProcessCpuSeconds() - cpu_before;
  if (status != 0) throw std::runtime_error("communicator-sim failed:\n" + output);
  const auto fields = SummaryFields(output);
  LoadFigures figures;
  figures.lines = Number(fields, "lines");
  figures.acks = Number(fields, "ack");
  figures.median_ms = Number(fields, "median_ms");
  figures.p99_ms = Number(fields, "p99_ms");
  figures.max_ms = Number(fields, "max_ms");
  figures.throughput = Number(fields, "throughput");
  figures.cpu_ms_per_message = figures.acks > 0 ? cpu * 1000 / figures.acks : 0;
  if (figures.acks != figures.lines) {
    std::printf("  (not every line acknowledged: %s)\n", output.c_str());
  }
  // The simulator's connections end now; each costs one more console read before it goes.
  if (!WaitFor([&] { return gateway.Connections() == 0; })) {
    throw std::runtime_error("connections did not end");
  }
  return figures;
}

// Processor time of this process, as a share of one core, while 150 connections stay idle.
double IdleCpuShare(Gateway& gateway, std::vector<std::unique_ptr<LoopbackClient>>& clients) {
  for (int i = 0; i < kConnectionCap; ++i) {
    clients.push_back(std::make_unique<LoopbackClient>(gateway.Port()));
    // A few ahead of the server at most: a full backlog delays connections by a second.
    WaitFor([&] { return gateway.Connections() > i - 8; });
  }
  if (!WaitFor([&] { return gateway.Connections() == kConnectionCap; })) {
    throw std::runtime_error("idle connections were not all accepted");
  }
  const double cpu_before = ProcessCpuSeconds();
  const auto start = Clock::now();
  std::this_thread::sleep_for(kIdleSpan);
  const double wall = std::chrono::duration<double>(Clock::now() - start).count();
  return (ProcessCpuSeconds() - cpu_before) / wall;
}

const char* Verdict(bool met) { return met ? "met" : "MISSED"; }

int Main() {
  TempDir folder;
  Child console({GATEWAY_CONSOLE_SIM, "--link", (folder / "ttyV0").string(), "--format", "tsv"},
                false);
  if (!WaitFor([&] { return std::filesystem::exists(folder / "ttyV0"); }, 5s)) {
    std::fprintf(stderr, "relay_bench: the console simulator made no line\n");
    return 1;
  }
  // Before the gateway, so that its stop closes them first.
  std::vector<std::unique_ptr<LoopbackClient>> idle_clients;
  Gateway gateway(folder.path());

  std::printf(
      "relay_bench: floor per message %.1f ms (preliminary read 41 ms + reply gap 1 ms),"
      " one message per floor = %.2f/s\n",
      kFloorMs, 1000 / kFloorMs);
  std::printf("%11s %7s %7s %10s %10s %10s %12s %9s %12s\n", "connections", "lines", "acked",
              "median_ms", "p99_ms", "max_ms", "messages/s", "of_floor", "cpu_ms/msg");
  const LoadRun kRuns[] = {
      {1, 100, 5, 2000},
      {10, 100, 5, 5000},
      // Offered above what the console link can carry, so that it never idles.
      {kConnectionCap, 40, 10, 20000},
  };
  std::map<int, LoadFigures> results;
  for (const LoadRun& run : kRuns) {
    const LoadFigures f = RunLoad(gateway, run);
    results[run.connections] = f;
    std::printf("%11d %7.0f %7.0f %10.2f %10.2f %10.2f %12.2f %8.1f%% %12.3f\n", run.connections,
                f.lines, f.acks, f.median_ms, f.p99_ms, f.max_ms, f.throughput,
                100 * f.throughput * kFloorMs / 1000, f.cpu_ms_per_message);
    std::fflush(stdout);
  }

  const double idle = IdleCpuShare(gateway, idle_clients);
  std::printf("idle: %d connections for %.0f s use %.3f%% of one core\n", kConnectionCap,
              std::chrono::duration<double>(kIdleSpan).count(), 100 * idle);

  const double latency_limit = kFloorMs * (1 + kLatencyMargin);
  const double throughput_target = kThroughputShare * 1000 / kFloorMs;
  std::printf("target: median latency, 1 connection    <= %.2f ms: %.2f ms %s\n", latency_limit,
              results[1].median_ms, Verdict(results[1].median_ms <= latency_limit));
  std::printf("target: throughput, %d connections     >= %.2f/s: %.2f/s %s\n", kConnectionCap,
              throughput_target, results[kConnectionCap].throughput,
              Verdict(results[kConnectionCap].throughput >= throughput_target));
  std::printf("target: idle processor, %d connections < %.1f%%: %.3f%% %s\n", kConnectionCap,
              100 * kIdleCpuShare, 100 * idle, Verdict(idle < kIdleCpuShare));
  if (gateway.WriteFailures() != 0) {
    std::printf("console write failures: %d\n", gateway.WriteFailures());
  }
  return 0;
}

}  // namespace
}  // namespace gateway

int main() {
  try {
    return gateway::Main();
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "relay_bench: %s\n", failure.what());
    return 1;
  }
}
