#include "communicator-sim/sim_report.h"

#include <cstdio>

#include "communicator-sim/receiver_line.h"

namespace gateway {

namespace {

std::string Fixed(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

std::string Quoted(const std::string& bytes) { return "\"" + EscapeForDisplay(bytes) + "\""; }

}  // namespace

std::string FormatExchange(const Exchange& exchange, bool machine) {
  const std::string outcome(OutcomeName(exchange.outcome));
  if (machine) {
    std::string record = "exchange index=" + std::to_string(exchange.index) +
                         " outcome=" + outcome + " latency_ms=" + Fixed(exchange.latency_ms, 3) +
                         " line=" + Quoted(exchange.line) + " reply=" + Quoted(exchange.reply);
    if (!exchange.detail.empty()) record += " detail=" + Quoted(exchange.detail);
    return record;
  }
  char head[64];
  std::snprintf(head, sizeof head, "%5zu  %-6s %9s ms  ", exchange.index, outcome.c_str(),
                Fixed(exchange.latency_ms, 2).c_str());
  std::string text = head + EscapeForDisplay(exchange.line);
  if (exchange.outcome == Outcome::kOther) text += "  reply " + Quoted(exchange.reply);
  if (!exchange.detail.empty()) text += "  (" + exchange.detail + ")";
  return text;
}

std::string FormatSummary(const RunResult& result, bool machine) {
  const RunStatistics& statistics = result.statistics;
  std::string counts;
  for (const Outcome outcome : kAllOutcomes) {
    counts += (machine          ? " "
               : counts.empty() ? ""
                                : ", ") +
              std::string(OutcomeName(outcome)) + (machine ? "=" : " ") +
              std::to_string(statistics.Count(outcome));
  }
  const std::string throughput = Fixed(statistics.Throughput(result.elapsed_seconds), 1);
  if (machine) {
    return "summary lines=" + std::to_string(statistics.Total()) + counts +
           " median_ms=" + Fixed(statistics.MedianMs(), 3) +
           " p99_ms=" + Fixed(statistics.Percentile99Ms(), 3) +
           " max_ms=" + Fixed(statistics.MaxMs(), 3) +
           " elapsed_s=" + Fixed(result.elapsed_seconds, 3) + " throughput=" + throughput;
  }
  std::string text = std::to_string(statistics.Total()) + " lines: " + counts + "\n";
  if (statistics.Answered() == 0) {
    text += "latency: no line was answered\n";
  } else {
    text += "latency of " + std::to_string(statistics.Answered()) + " answered: median " +
            Fixed(statistics.MedianMs(), 2) + " ms, 99th percentile " +
            Fixed(statistics.Percentile99Ms(), 2) + " ms, max " + Fixed(statistics.MaxMs(), 2) +
            " ms\n";
  }
  text += "throughput " + throughput + " lines/s over " + Fixed(result.elapsed_seconds, 2) + " s";
  return text;
}

}  // namespace gateway
