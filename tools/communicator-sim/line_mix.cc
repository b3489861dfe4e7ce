#include "communicator-sim/line_mix.h"

#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace gateway {

namespace {

std::string LineFor(const LineMix& mix, const std::string& account, const MixEvent& event) {
  ReceiverLineFields fields = mix.base;
  fields.account = account;
  fields.code = event.code;
  fields.group = event.group;
  fields.zone = event.zone;
  return BuildReceiverLine(fields);
}

}  // namespace

std::vector<std::string> CombinedLines(const LineMix& mix, std::size_t count) {
  if (mix.accounts.empty() || mix.events.empty()) {
    throw std::invalid_argument("a mix needs at least one account and one event");
  }
  std::vector<std::string> combinations;
  for (const auto& account : mix.accounts) {
    for (const auto& event : mix.events) combinations.push_back(LineFor(mix, account, event));
  }
  if (count == 0) return combinations;
  std::vector<std::string> lines;
  lines.reserve(count);
  for (std::size_t i = 0; i < count; ++i) lines.push_back(combinations[i % combinations.size()]);
  return lines;
}

std::vector<std::string> RandomLines(const LineMix& mix, std::size_t count, std::uint64_t seed) {
  // The engine's output is fixed by the standard; the distributions are not, so draws use a
  // plain remainder and stay the same with every library.
  std::mt19937_64 engine(seed);
  const auto draw = [&](std::size_t size) { return static_cast<std::size_t>(engine() % size); };
  std::vector<std::string> lines;
  lines.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    const std::string account = mix.accounts.empty() ? PadField(std::to_string(1 + draw(9999)), 4)
                                                     : mix.accounts[draw(mix.accounts.size())];
    MixEvent event;
    if (mix.events.empty()) {
      event.code = kRandomCodes[draw(std::size(kRandomCodes))];
      event.zone = PadField(std::to_string(1 + draw(32)), 3);
    } else {
      event = mix.events[draw(mix.events.size())];
    }
    lines.push_back(LineFor(mix, account, event));
  }
  return lines;
}

std::vector<std::string> ReadLineFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw std::runtime_error("cannot read " + path);
  std::vector<std::string> lines;
  std::string line;
  while (std::getline(file, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    // An empty send puts nothing on the wire: there is no line to send.
    if (!line.empty()) lines.push_back(DecodeEscapes(line));
  }
  if (file.bad()) throw std::runtime_error("cannot read " + path);
  return lines;
}

}  // namespace gateway
