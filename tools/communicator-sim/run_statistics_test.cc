#include "communicator-sim/run_statistics.h"

#include <gtest/gtest.h>

namespace gateway {
namespace {

TEST(RunStatistics, CountsOutcomesAndMeasuresOnlyAnsweredLines) {
  RunStatistics statistics;
  statistics.Add(Outcome::kAck, 4);
  statistics.Add(Outcome::kPoll, 1);
  statistics.Add(Outcome::kAck, 3);
  statistics.Add(Outcome::kAck, 2);
  statistics.Add(Outcome::kSilent, 1000);  // the time-out, not a latency
  statistics.Add(Outcome::kClosed, 500);
  EXPECT_EQ(3u, statistics.Count(Outcome::kAck));
  EXPECT_EQ(1u, statistics.Count(Outcome::kPoll));
  EXPECT_EQ(1u, statistics.Count(Outcome::kSilent));
  EXPECT_EQ(1u, statistics.Count(Outcome::kClosed));
  EXPECT_EQ(0u, statistics.Count(Outcome::kError));
  EXPECT_EQ(6u, statistics.Total());
  EXPECT_EQ(4u, statistics.Answered());
  EXPECT_DOUBLE_EQ(2.5, statistics.MedianMs());  // the two middle ones of 1 2 3 4
  EXPECT_DOUBLE_EQ(4, statistics.Percentile99Ms());
  EXPECT_DOUBLE_EQ(4, statistics.MaxMs());
  EXPECT_DOUBLE_EQ(3, statistics.Throughput(2));
}

TEST(RunStatistics, TakesTheNearestRankForThe99thPercentile) {
  struct Case {
    int samples;  // latencies 1, 2, ..., samples, added in reverse
    double median;
    double p99;
  };
  for (const Case c : {Case{1, 1, 1}, Case{3, 2, 3}, Case{100, 50.5, 99}, Case{101, 51, 100},
                       Case{200, 100.5, 198}, Case{1000, 500.5, 990}}) {
    SCOPED_TRACE(c.samples);
    RunStatistics statistics;
    for (int i = c.samples; i >= 1; --i) statistics.Add(Outcome::kAck, i);
    EXPECT_DOUBLE_EQ(c.median, statistics.MedianMs());
    EXPECT_DOUBLE_EQ(c.p99, statistics.Percentile99Ms());
    EXPECT_DOUBLE_EQ(c.samples, statistics.MaxMs());
  }
}

TEST(RunStatistics, GivesZeroFiguresWithoutAnswersOrTime) {
  RunStatistics statistics;
  statistics.Add(Outcome::kSilent, 1000);
  EXPECT_EQ(0u, statistics.Answered());
  EXPECT_EQ(0, statistics.MedianMs());
  EXPECT_EQ(0, statistics.Percentile99Ms());
  EXPECT_EQ(0, statistics.MaxMs());
  EXPECT_EQ(0, statistics.Throughput(0));
}

}  // namespace
}  // namespace gateway
