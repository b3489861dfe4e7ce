// console-sim: a virtual Zorvan console on a pseudo-terminal (see --help).
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "channels/port_error.h"
#include "channels/port_list.h"
#include "console-sim/console_line.h"
#include "console-sim/frame_reader.h"
#include "console-sim/frame_record.h"
#include "console-sim/reply_plan.h"
#include "console-sim/sim_options.h"

namespace gateway::console_sim {
namespace {

using Clock = std::chrono::steady_clock;

// How long the simulator stays after its last reply: beyond the gateway's longest reply read.
constexpr auto kLinger = std::chrono::milliseconds(300);

struct Outgoing {
  Clock::time_point due;
  Bytes bytes;
};

std::string LocalTimeNow() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm local{};
  localtime_r(&now.tv_sec, &local);
  char text[32];
  const std::size_t length = strftime(text, sizeof text, "%H:%M:%S", &local);
  std::snprintf(text + length, sizeof text - length, ".%03ld", now.tv_nsec / 1'000'000);
  return text;
}

void PrintLine(const std::string& line) {
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

bool WriteAll(int fd, const Bytes& bytes) {
  std::size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + written, bytes.size() - written);
    if (n > 0) {
      written += static_cast<std::size_t>(n);
    } else if (n < 0 && errno == EAGAIN) {
      pollfd pfd{fd, POLLOUT, 0};
      if (poll(&pfd, 1, 1000) <= 0) return false;  // the gateway reads nothing: drop it
    } else if (!(n < 0 && errno == EINTR)) {
      return false;
    }
  }
  return true;
}

int Run(const SimOptions& options, int signal_fd) {
  ConsoleLine line(options.link);
  std::fprintf(stderr, "console-sim: console on %s%s%s\n", line.slave_path().c_str(),
               line.link().empty() ? "" : ", linked as ", line.link().c_str());
  if (options.format == OutputFormat::kTsv) PrintLine(TsvHeader());

  FrameReader reader;
  ReplyPlan plan(options.replies);
  std::vector<Outgoing> outgoing;
  const auto start = Clock::now();
  const auto end = options.seconds > 0 ? start + std::chrono::seconds(options.seconds)
                                       : Clock::time_point::max();
  Clock::time_point last_byte = start;
  int answered = 0;

  std::optional<Clock::time_point> linger_until;
  while (true) {
    const bool limit_reached = options.frames > 0 && answered >= options.frames;
    if (limit_reached && outgoing.empty()) {
      // Closing the line at once would hang it up before the gateway has read the last reply.
      if (!linger_until) linger_until = Clock::now() + kLinger;
      if (Clock::now() >= *linger_until) return 0;
    }
    auto wake = end;
    for (const Outgoing& o : outgoing) wake = std::min(wake, o.due);
    if (reader.waiting()) wake = std::min(wake, last_byte + options.idle);
    if (linger_until) wake = std::min(wake, *linger_until);
    const auto now = Clock::now();
    if (now >= end) return 0;
    const auto wait = std::chrono::duration_cast<std::chrono::nanoseconds>(
        std::max(wake - now, Clock::duration::zero()));
    const bool forever = wake == Clock::time_point::max();
    const timespec timeout{static_cast<time_t>(wait.count() / 1'000'000'000),
                           static_cast<long>(wait.count() % 1'000'000'000)};
    pollfd fds[2] = {{line.master_fd(), static_cast<short>(limit_reached ? 0 : POLLIN), 0},
                     {signal_fd, POLLIN, 0}};
    if (ppoll(fds, 2, forever ? nullptr : &timeout, nullptr) < 0 && errno != EINTR) return 1;
    if (fds[1].revents & POLLIN) return 0;  // Ctrl+C, SIGTERM or SIGHUP

    std::vector<Chunk> chunks;
    if (fds[0].revents & POLLIN) {
      std::uint8_t buffer[1024];
      ssize_t n;
      while ((n = read(line.master_fd(), buffer, sizeof buffer)) > 0) {
        const std::vector<Chunk> more = reader.Feed(std::span(buffer, static_cast<std::size_t>(n)));
        chunks.insert(chunks.end(), more.begin(), more.end());
      }
      last_byte = Clock::now();
    }
    if (reader.waiting() && Clock::now() >= last_byte + options.idle) {
      const std::vector<Chunk> more = reader.Idle();
      chunks.insert(chunks.end(), more.begin(), more.end());
    }
    for (const Chunk& chunk : chunks) {
      FrameRecord record{LocalTimeNow(), chunk, std::nullopt};
      if (chunk.kind == Chunk::Kind::kFrame) {
        if (options.frames > 0 && answered >= options.frames) continue;
        record.reply = plan.Next();
        ++answered;
        if (!record.reply->bytes.empty()) {
          outgoing.push_back({Clock::now() + record.reply->delay, record.reply->bytes});
        }
      }
      PrintLine(FormatRecord(options.format, record));
    }
    const auto sent_by = Clock::now();
    for (auto it = outgoing.begin(); it != outgoing.end();) {
      if (it->due > sent_by) {
        ++it;
        continue;
      }
      WriteAll(line.master_fd(), it->bytes);
      it = outgoing.erase(it);
    }
  }
}

}  // namespace
}  // namespace gateway::console_sim

int main(int argc, char** argv) {
  using namespace gateway::console_sim;
  SimOptions options;
  try {
    options = ParseOptions(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const UsageError& e) {
    std::fprintf(stderr, "console-sim: %s\n", e.what());
    return 2;
  }
  if (options.help) {
    std::fputs(HelpText().c_str(), stdout);
    return 0;
  }
  if (options.list_ports) {
    try {
      for (const std::string& port : gateway::ListSerialPorts()) PrintLine(port);
    } catch (const gateway::PortError& e) {
      std::fprintf(stderr, "console-sim: %s\n", e.what());
      return 1;
    }
    return 0;
  }
  // The signals that end the simulator arrive as readable data, so the link is always removed
  // by the normal way out.
  sigset_t ending;
  sigemptyset(&ending);
  sigaddset(&ending, SIGINT);
  sigaddset(&ending, SIGTERM);
  sigaddset(&ending, SIGHUP);
  sigprocmask(SIG_BLOCK, &ending, nullptr);
  signal(SIGPIPE, SIG_IGN);
  const int signal_fd = signalfd(-1, &ending, SFD_CLOEXEC);
  if (signal_fd < 0) {
    std::perror("console-sim: signalfd");
    return 1;
  }
  try {
    return Run(options, signal_fd);
  } catch (const LineError& e) {
    std::fprintf(stderr, "console-sim: %s\n", e.what());
    return 1;
  }
}
