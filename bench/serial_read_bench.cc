// How closely the serial port's reads keep their time rule, on a pseudo-terminal: a reply read
// should end 1 ms after the console's last byte, and a read of 40 that receives nothing after
// 41 ms. Prints median and 99th percentile; the target is the rule within 0.3 ms at the median.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <semaphore>
#include <thread>
#include <vector>

#include "channels/serial_port.h"
#include "fixtures/pty_pair.h"

namespace gateway {
namespace {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::duration<double, std::milli>;

struct Figures {
  double median;
  double p99;
};

Figures FiguresOf(std::vector<double> samples) {
  std::sort(samples.begin(), samples.end());
  const auto at = [&](double q) {
    return samples[std::min(samples.size() - 1, static_cast<std::size_t>(q * samples.size()))];
  };
  return {at(0.5), at(0.99)};
}

void Print(const char* what, const Figures& f, double rule) {
  const double off = f.median - rule;
  std::printf("%-44s median %7.3f ms  p99 %7.3f ms  rule %5.1f ms  median off %+.3f ms  %s\n", what,
              f.median, f.p99, rule, off, off >= -0.3 && off <= 0.3 ? "ok" : "OFF TARGET");
}

// The console answers 4 bytes a few milliseconds into each read; measured from the end of its
// write to the end of the read.
std::vector<double> ReplyReads(PtyPair& console, SerialPort& port, int repetitions) {
  std::binary_semaphore go(0);
  std::binary_semaphore written(0);
  Clock::time_point last_byte_sent;
  std::jthread console_thread([&] {
    const std::uint8_t reply[4] = {0x06, 0x06, 0x06, 0x06};
    for (int i = 0; i < repetitions; ++i) {
      go.acquire();
      std::this_thread::sleep_for(std::chrono::milliseconds(3));
      console.Write(reply);
      last_byte_sent = Clock::now();
      written.release();
    }
  });
  std::vector<double> samples;
  for (int i = 0; i < repetitions; ++i) {
    go.release();
    const Bytes got = port.Read(100);
    const auto returned = Clock::now();
    written.acquire();
    if (got.size() == 4) samples.push_back(Ms(returned - last_byte_sent).count());
  }
  return samples;
}

std::vector<double> EmptyReads(SerialPort& port, int repetitions) {
  std::vector<double> samples;
  for (int i = 0; i < repetitions; ++i) {
    const auto start = Clock::now();
    const Bytes got = port.Read(40);
    if (got.empty()) samples.push_back(Ms(Clock::now() - start).count());
  }
  return samples;
}

}  // namespace
}  // namespace gateway

int main() {
  using namespace gateway;
  constexpr int kReplies = 400;
  constexpr int kEmpty = 200;
  PtyPair console;
  SerialPort port;
  port.SetPortName(console.PortName());
  port.Open();
  std::printf("serial read timing on a pseudo-terminal (%s)\n", console.PortName().c_str());
  const std::vector<double> replies = ReplyReads(console, port, kReplies);
  const std::vector<double> empty = EmptyReads(port, kEmpty);
  if (replies.empty() || empty.empty()) {
    std::printf("no usable samples\n");
    return 1;
  }
  std::printf("%zu reply reads, %zu empty reads\n", replies.size(), empty.size());
  Print("reply read: console's last byte to return", FiguresOf(replies), 1.0);
  Print("read of 40 receiving nothing", FiguresOf(empty), 41.0);
  return 0;
}
