#include "communicator-sim/sim_runner.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <thread>

#include "communicator-sim/communicator_link.h"

namespace gateway {

namespace {

using Clock = std::chrono::steady_clock;

// How long opening a connection may take: long enough for the connection request to be
// repeated after the gateway's backlog dropped it.
constexpr auto kOpenTimeout = std::chrono::milliseconds(5000);
constexpr auto kOpenPace = std::chrono::milliseconds(1);

double Milliseconds(Clock::duration duration) {
  return std::chrono::duration<double, std::milli>(duration).count();
}

double Seconds(Clock::duration duration) { return std::chrono::duration<double>(duration).count(); }

// Whole milliseconds until `when`, rounded up so that a wait never ends before it.
int MillisecondsUntil(Clock::time_point when, Clock::time_point now) {
  if (when <= now) return 0;
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(when - now).count();
  return static_cast<int>(std::min<long long>(left, 60'000));
}

int Poll(pollfd* watched, std::size_t count, int timeout_ms) {
  int ready;
  do {
    ready = ::poll(watched, count, timeout_ms);
  } while (ready < 0 && errno == EINTR);
  return ready;
}

enum class State { kIdle, kOpening, kWaiting };

// One connection of a load.
struct Slot {
  explicit Slot(const sockaddr_in& gateway) : link(gateway) {}
  CommunicatorLink link;
  State state = State::kIdle;
  Clock::time_point next_send;  // while idle
  Clock::time_point started;    // of the opening, or of the line's send
};

// Opens the connections before the timed part, one per kOpenPace: a burst would overflow the
// gateway's short backlog, and each connection request dropped there is repeated only a second
// later. A connection that cannot be opened is tried again when its first line is due.
void OpenAll(std::vector<std::unique_ptr<Slot>>& slots) {
  std::size_t begun = 0;
  auto next_begin = Clock::now();
  std::vector<pollfd> watched;
  std::vector<Slot*> watched_slots;
  for (;;) {
    auto now = Clock::now();
    if (begun < slots.size() && next_begin <= now) {
      Slot& slot = *slots[begun++];
      slot.started = now;
      if (slot.link.BeginOpen().empty() && slot.link.Opening()) slot.state = State::kOpening;
      next_begin = now + kOpenPace;
    }
    auto wake = begun < slots.size() ? next_begin : now + kOpenTimeout;
    watched.clear();
    watched_slots.clear();
    for (auto& slot : slots) {
      if (slot->state != State::kOpening) continue;
      watched.push_back({slot->link.Descriptor(), POLLOUT, 0});
      watched_slots.push_back(slot.get());
      wake = std::min(wake, slot->started + kOpenTimeout);
    }
    if (watched.empty() && begun == slots.size()) return;
    Poll(watched.data(), watched.size(), MillisecondsUntil(wake, now));
    now = Clock::now();
    for (std::size_t i = 0; i < watched.size(); ++i) {
      Slot& slot = *watched_slots[i];
      if (watched[i].revents == 0 && now < slot.started + kOpenTimeout) continue;
      slot.link.FinishOpen();
      slot.state = State::kIdle;
    }
  }
}

}  // namespace

RunResult RunSequence(const sockaddr_in& gateway, const std::vector<std::string>& lines,
                      const SequencePlan& plan,
                      const std::function<void(const Exchange&)>& report) {
  CommunicatorLink link(gateway);
  RunResult result;
  const auto start = Clock::now();
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i > 0 && plan.interval.count() > 0) std::this_thread::sleep_for(plan.interval);
    Exchange exchange;
    exchange.index = i + 1;
    exchange.line = lines[i];
    auto sent_at = Clock::now();
    exchange.detail = link.Ensure(kOpenTimeout);
    if (exchange.detail.empty()) {
      sent_at = Clock::now();
      if (link.Send(lines[i])) {
        const auto deadline = sent_at + plan.timeout;
        for (;;) {
          pollfd watched{link.Descriptor(), POLLIN, 0};
          Poll(&watched, 1, MillisecondsUntil(deadline, Clock::now()));
          if (const auto outcome = link.Collect()) {
            exchange.outcome = *outcome;
            break;
          }
          if (Clock::now() >= deadline) {
            exchange.outcome = link.Expire();
            break;
          }
        }
      } else {
        exchange.detail = "send failed";
      }
    }
    exchange.latency_ms = Milliseconds(Clock::now() - sent_at);
    exchange.reply = link.Reply();
    result.statistics.Add(exchange.outcome, exchange.latency_ms);
    if (report) report(exchange);
  }
  result.elapsed_seconds = Seconds(Clock::now() - start);
  return result;
}

RunResult RunLoad(const sockaddr_in& gateway, const std::vector<std::string>& lines,
                  const LoadPlan& plan) {
  RunResult result;
  if (lines.empty() || plan.connections <= 0 || plan.rate <= 0) return result;

  std::vector<std::unique_ptr<Slot>> slots;
  for (int c = 0; c < plan.connections; ++c) slots.push_back(std::make_unique<Slot>(gateway));
  OpenAll(slots);

  // Each connection sends at its share of the rate; their first lines are spread over one
  // period so that the load is even from the start.
  const auto gap =
      std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / plan.rate));
  const auto period = gap * plan.connections;
  const auto start = Clock::now();
  const auto stop_sending = start + plan.duration;
  for (int c = 0; c < plan.connections; ++c) slots[c]->next_send = start + gap * c;

  std::size_t next_line = 0;
  const auto settle = [&](Slot& slot, Outcome outcome, Clock::time_point now) {
    result.statistics.Add(outcome, Milliseconds(now - slot.started));
    slot.state = State::kIdle;
    slot.next_send = std::max(slot.next_send + period, now);
  };
  const auto send = [&](Slot& slot) {
    slot.started = Clock::now();
    if (slot.link.Send(lines[next_line++ % lines.size()])) {
      slot.state = State::kWaiting;
    } else {
      settle(slot, Outcome::kError, Clock::now());
    }
  };
  std::vector<pollfd> watched;
  std::vector<Slot*> watched_slots;
  for (;;) {
    auto now = Clock::now();
    for (auto& slot : slots) {
      if (slot->state != State::kIdle || slot->next_send > now || now >= stop_sending) continue;
      if (slot->link.Refresh()) {
        send(*slot);
        continue;
      }
      // The gateway closed this connection: open another, as a communicator would.
      slot->started = now;
      if (!slot->link.BeginOpen().empty()) {
        settle(*slot, Outcome::kError, Clock::now());
      } else if (slot->link.Opening()) {
        slot->state = State::kOpening;
      } else {
        send(*slot);
      }
    }

    now = Clock::now();
    // Past the sending time only the outstanding replies are waited for.
    auto wake = now < stop_sending ? stop_sending : now + std::chrono::minutes(1);
    watched.clear();
    watched_slots.clear();
    for (auto& slot : slots) {
      if (slot->state == State::kWaiting) {
        watched.push_back({slot->link.Descriptor(), POLLIN, 0});
        watched_slots.push_back(slot.get());
        wake = std::min(wake, slot->started + plan.timeout);
      } else if (slot->state == State::kOpening) {
        watched.push_back({slot->link.Descriptor(), POLLOUT, 0});
        watched_slots.push_back(slot.get());
        wake = std::min(wake, slot->started + kOpenTimeout);
      } else if (slot->next_send < stop_sending) {
        wake = std::min(wake, slot->next_send);
      }
    }
    if (watched.empty() && now >= stop_sending) break;
    Poll(watched.data(), watched.size(), MillisecondsUntil(wake, now));

    now = Clock::now();
    for (std::size_t i = 0; i < watched.size(); ++i) {
      Slot& slot = *watched_slots[i];
      if (slot.state == State::kOpening) {
        if (watched[i].revents == 0 && now < slot.started + kOpenTimeout) continue;
        if (slot.link.FinishOpen().empty()) {
          send(slot);
        } else {
          settle(slot, Outcome::kError, now);
        }
        continue;
      }
      std::optional<Outcome> outcome;
      if (watched[i].revents != 0) outcome = slot.link.Collect();
      if (!outcome && now >= slot.started + plan.timeout) outcome = slot.link.Expire();
      if (outcome) settle(slot, *outcome, now);
    }
  }
  result.elapsed_seconds = Seconds(Clock::now() - start);
  return result;
}

}  // namespace gateway
