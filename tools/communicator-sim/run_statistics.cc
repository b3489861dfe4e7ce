#include "communicator-sim/run_statistics.h"

#include <algorithm>
#include <numeric>

namespace gateway {

void RunStatistics::Add(Outcome outcome, double latency_ms) {
  ++counts_[static_cast<std::size_t>(outcome)];
  if (outcome == Outcome::kAck || outcome == Outcome::kPoll) answered_ms_.push_back(latency_ms);
}

std::size_t RunStatistics::Count(Outcome outcome) const {
  return counts_[static_cast<std::size_t>(outcome)];
}

std::size_t RunStatistics::Total() const {
  return std::accumulate(counts_.begin(), counts_.end(), std::size_t{0});
}

std::vector<double> RunStatistics::Sorted() const {
  std::vector<double> sorted = answered_ms_;
  std::sort(sorted.begin(), sorted.end());
  return sorted;
}

double RunStatistics::MedianMs() const {
  const std::vector<double> sorted = Sorted();
  const std::size_t n = sorted.size();
  if (n == 0) return 0;
  return n % 2 == 1 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2;
}

double RunStatistics::Percentile99Ms() const {
  const std::vector<double> sorted = Sorted();
  if (sorted.empty()) return 0;
  // Nearest rank ceil(0.99 n), counted in whole numbers so that no rounding of 0.99 moves it.
  const std::size_t rank = (sorted.size() * 99 + 99) / 100;
  return sorted[rank - 1];
}

double RunStatistics::MaxMs() const {
  return answered_ms_.empty() ? 0 : *std::max_element(answered_ms_.begin(), answered_ms_.end());
}

double RunStatistics::Throughput(double elapsed_seconds) const {
  return elapsed_seconds > 0 ? static_cast<double>(Total()) / elapsed_seconds : 0;
}

}  // namespace gateway
