#include "communicator-sim/sim_report.h"

#include <gtest/gtest.h>

namespace gateway {
namespace {

Exchange Answered() {
  Exchange exchange;
  exchange.index = 3;
  exchange.line = "5010 181234E13001005\x14";
  exchange.outcome = Outcome::kAck;
  exchange.latency_ms = 0.4124;
  exchange.reply = "\x06";
  return exchange;
}

TEST(FormatExchange, WritesOneKeyValueRecordForMachines) {
  EXPECT_EQ(
      "exchange index=3 outcome=ack latency_ms=0.412 line=\"5010 181234E13001005\\x14\" "
      "reply=\"\\x06\"",
      FormatExchange(Answered(), true));
  Exchange failed = Answered();
  failed.outcome = Outcome::kError;
  failed.reply.clear();
  failed.detail = "Connection refused";
  EXPECT_EQ(
      "exchange index=3 outcome=error latency_ms=0.412 line=\"5010 181234E13001005\\x14\" "
      "reply=\"\" detail=\"Connection refused\"",
      FormatExchange(failed, true));
}

TEST(FormatExchange, ShowsPeopleTheOutcomeLatencyAndLine) {
  EXPECT_EQ("    3  ack         0.41 ms  5010 181234E13001005\\x14",
            FormatExchange(Answered(), false));
  Exchange odd = Answered();
  odd.outcome = Outcome::kOther;
  odd.reply = "\x15";
  EXPECT_EQ("    3  other       0.41 ms  5010 181234E13001005\\x14  reply \"\\x15\"",
            FormatExchange(odd, false));
}

TEST(FormatSummary, GivesCountsLatenciesAndThroughput) {
  RunResult result;
  result.statistics.Add(Outcome::kAck, 1);
  result.statistics.Add(Outcome::kAck, 3);
  result.statistics.Add(Outcome::kSilent, 1000);
  result.statistics.Add(Outcome::kClosed, 2);
  result.elapsed_seconds = 2;
  EXPECT_EQ(
      "summary lines=4 ack=2 poll=0 silent=1 closed=1 other=0 error=0 median_ms=2.000 "
      "p99_ms=3.000 max_ms=3.000 elapsed_s=2.000 throughput=2.0",
      FormatSummary(result, true));
  EXPECT_EQ(
      "4 lines: ack 2, poll 0, silent 1, closed 1, other 0, error 0\n"
      "latency of 2 answered: median 2.00 ms, 99th percentile 3.00 ms, max 3.00 ms\n"
      "throughput 2.0 lines/s over 2.00 s",
      FormatSummary(result, false));
}

}  // namespace
}  // namespace gateway
