// Counts of outcomes and the latency figures of a simulator run.
#pragma once

#include <array>
#include <cstddef>
#include <iterator>
#include <vector>

#include "communicator-sim/reply_outcome.h"

namespace gateway {

class RunStatistics {
 public:
  // Records one line's outcome and the milliseconds from its send until the outcome was known.
  void Add(Outcome outcome, double latency_ms);

  std::size_t Count(Outcome outcome) const;
  // Lines recorded, whatever their outcome.
  std::size_t Total() const;
  // Lines the gateway answered (ack or poll): the latency figures below are theirs.
  std::size_t Answered() const { return answered_ms_.size(); }
  // The middle answered latency, or the mean of the two middle ones; 0 without answers.
  double MedianMs() const;
  // The smallest answered latency that at least 99% of the answers do not exceed (nearest
  // rank); 0 without answers.
  double Percentile99Ms() const;
  double MaxMs() const;
  // Lines recorded per second of `elapsed_seconds`; 0 when no time has passed.
  double Throughput(double elapsed_seconds) const;

 private:
  std::vector<double> Sorted() const;

  std::array<std::size_t, std::size(kAllOutcomes)> counts_{};
  std::vector<double> answered_ms_;
};

}  // namespace gateway
