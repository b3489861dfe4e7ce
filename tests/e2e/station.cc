#include "e2e/station.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <thread>

namespace gateway::e2e {
namespace {

// After the first byte of a reply, how long further bytes of the same reply may take.
constexpr auto kReplyTail = std::chrono::milliseconds(5);

int MillisecondsUntil(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return static_cast<int>(std::max<long long>(left, 0));
}

std::atomic<int> next_connection{1};

}  // namespace

Peer::Peer(int port) : fd_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
  if (fd_ < 0) throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    const int error = errno;
    Close();
    throw std::runtime_error(std::string("connect: ") + std::strerror(error));
  }
  const int on = 1;
  setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

Peer::~Peer() { Close(); }

bool Peer::Send(std::string_view bytes) {
  const ssize_t sent = send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
  return sent == static_cast<ssize_t>(bytes.size());
}

std::string Peer::AwaitReply(std::chrono::milliseconds limit, bool& closed) {
  closed = false;
  std::string reply;
  auto deadline = Clock::now() + limit;
  for (;;) {
    pollfd watched{fd_, POLLIN, 0};
    const int ready = poll(&watched, 1, MillisecondsUntil(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return reply;
    char buffer[4096];
    const ssize_t got = recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (got <= 0) {
      closed = true;  // an orderly end or a reset
      return reply;
    }
    if (reply.empty()) deadline = Clock::now() + kReplyTail;
    reply.append(buffer, static_cast<std::size_t>(got));
  }
}

void Peer::HalfClose() { shutdown(fd_, SHUT_WR); }

void Peer::Reset() {
  const linger abortive{1, 0};
  setsockopt(fd_, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
  Close();
}

void Peer::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

std::vector<LineResult> RunStation(const std::vector<std::string>& lines, const StationPlan& plan) {
  std::vector<LineResult> results(lines.size());
  for (std::size_t i = 0; i < lines.size(); ++i) results[i].line = lines[i];
  std::atomic<std::size_t> next_line{0};
  const auto client = [&] {
    std::unique_ptr<Peer> peer;
    int serial = 0;
    int lines_on_connection = 0;
    LineResult* previous = nullptr;
    for (;;) {
      const std::size_t index = next_line++;
      if (index >= lines.size() || (plan.keep_going && !plan.keep_going())) return;
      LineResult& result = results[index];
      if (peer) {
        bool closed = false;
        const std::string early = peer->Pending(closed);
        if (!early.empty() && previous != nullptr) {
          previous->reply += early;
          previous->outcome = Judge(previous->reply, false);
        }
        if (closed || !early.empty() || lines_on_connection >= plan.lines_per_connection) {
          peer.reset();
        }
      }
      if (!peer) {
        try {
          peer = std::make_unique<Peer>(plan.port);
        } catch (const std::runtime_error&) {
          result.outcome = Outcome::kError;
          result.sent = result.settled = Clock::now();
          continue;
        }
        serial = next_connection++;
        lines_on_connection = 0;
        previous = nullptr;
      }
      result.connection = serial;
      result.sent = Clock::now();
      ++lines_on_connection;
      if (!peer->Send(lines[index])) {
        result.outcome = Outcome::kError;
        result.settled = Clock::now();
        peer.reset();
        continue;
      }
      bool closed = false;
      result.reply = peer->AwaitReply(plan.reply_timeout, closed);
      result.settled = Clock::now();
      result.outcome = Judge(result.reply, closed);
      previous = &result;
      if (result.outcome != Outcome::kAck) peer.reset();
    }
  };
  std::vector<std::jthread> threads;
  for (int i = 0; i < plan.connections; ++i) threads.emplace_back(client);
  threads.clear();
  return results;
}

std::string ReceiverLine(std::string_view account, std::string_view event, std::string_view group,
                         std::string_view zone, char line_digit) {
  std::string line = "501";
  line += line_digit;
  line += " 18";
  line += account;
  line += event;
  line += group;
  line += zone;
  line += '\x14';
  return line;
}

std::vector<std::string> DistinctLines(int count, std::mt19937_64& random) {
  static const char* const kEvents[] = {"E130", "R130", "E110", "R110", "E401",
                                        "R401", "E301", "R301", "E120", "E602"};
  std::vector<std::string> lines;
  for (int i = 0; i < count; ++i) {
    char account[8];
    std::snprintf(account, sizeof account, "%04d", i % 9999 + 1);
    const bool periodic_test = random() % 10 == 0;
    const char* event = periodic_test ? "E602" : kEvents[random() % 9];
    char zone[8];
    std::snprintf(zone, sizeof zone, "%03d", static_cast<int>(random() % 48 + 1));
    char group[8];
    std::snprintf(group, sizeof group, "%02d", static_cast<int>(random() % 16 + 1));
    const char line_digit = random() % 4 == 0 ? '1' : '0';
    lines.push_back(ReceiverLine(account, event, group, zone, line_digit));
  }
  return lines;
}

}  // namespace gateway::e2e
