#include "communicator-sim/sim_options.h"

#include <charconv>
#include <cmath>
#include <string_view>

namespace gateway {

namespace {

template <typename Number>
Number ParseNumber(const std::string& option, const std::string& text, Number low, Number high) {
  Number value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || text.empty() ||
      !(value >= low && value <= high)) {
    throw UsageError(option + " wants a number from " + std::to_string(low) + " to " +
                     std::to_string(high) + ", not \"" + text + "\"");
  }
  return value;
}

double ParsePositive(const std::string& option, const std::string& text) {
  // from_chars for double is not in every library this builds with; stod with a full-match
  // check does the same.
  std::size_t used = 0;
  double value = 0;
  try {
    value = std::stod(text, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used == 0 || used != text.size() || !std::isfinite(value) || value <= 0) {
    throw UsageError(option + " wants a number above 0, not \"" + text + "\"");
  }
  return value;
}

std::vector<std::string> SplitList(const std::string& text) {
  std::vector<std::string> items;
  std::size_t begin = 0;
  for (;;) {
    const std::size_t comma = text.find(',', begin);
    items.push_back(text.substr(begin, comma - begin));
    if (comma == std::string::npos) break;
    begin = comma + 1;
  }
  return items;
}

char SingleCharacter(const std::string& option, const std::string& text) {
  if (text.size() != 1) throw UsageError(option + " wants one character, not \"" + text + "\"");
  return text[0];
}

}  // namespace

SimOptions ParseOptions(const std::vector<std::string>& arguments) {
  SimOptions options;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    std::string option = arguments[i];
    std::string value;
    bool has_inline_value = false;
    if (option.starts_with("--") && option.find('=') != std::string::npos) {
      value = option.substr(option.find('=') + 1);
      option = option.substr(0, option.find('='));
      has_inline_value = true;
    }
    const auto take_value = [&]() -> const std::string& {
      if (has_inline_value) return value;
      if (i + 1 >= arguments.size()) throw UsageError(option + " wants a value");
      value = arguments[++i];
      return value;
    };
    const auto no_value = [&] {
      if (has_inline_value) throw UsageError(option + " takes no value");
    };

    if (option == "-h" || option == "--help") {
      no_value();
      options.help = true;
    } else if (option == "--host") {
      options.host = take_value();
    } else if (option == "--port") {
      options.port = ParseNumber(option, take_value(), 1, 65535);
    } else if (option == "--timeout") {
      options.timeout = std::chrono::milliseconds(ParseNumber(option, take_value(), 1, 3'600'000));
    } else if (option == "--file") {
      options.file = take_value();
    } else if (option == "--accounts") {
      options.mix.accounts.clear();
      for (const auto& account : SplitList(take_value())) {
        const std::string padded = PadField(account, 4);
        if (padded.size() != 4) throw UsageError("account \"" + account + "\" is not 4 characters");
        options.mix.accounts.push_back(padded);
      }
    } else if (option == "--events") {
      options.mix.events.clear();
      for (const auto& event : SplitList(take_value())) {
        try {
          options.mix.events.push_back(ParseMixEvent(event));
        } catch (const std::invalid_argument& error) {
          throw UsageError(error.what());
        }
      }
    } else if (option == "--count") {
      options.count = ParseNumber<std::size_t>(option, take_value(), 1, 100'000'000);
    } else if (option == "--random") {
      no_value();
      options.random = true;
    } else if (option == "--seed") {
      options.seed = ParseNumber<std::uint64_t>(option, take_value(), 0, UINT64_MAX);
    } else if (option == "--line-digit") {
      options.mix.base.line_digit = SingleCharacter(option, take_value());
    } else if (option == "--receiver") {
      options.mix.base.receiver = PadField(take_value(), 2);
      if (options.mix.base.receiver.size() != 2) {
        throw UsageError("--receiver wants 2 characters, not \"" + value + "\"");
      }
    } else if (option == "--terminator") {
      const std::string& hex = take_value();
      int byte = 0;
      const auto [end, error] = std::from_chars(hex.data(), hex.data() + hex.size(), byte, 16);
      if (error != std::errc() || end != hex.data() + hex.size() || hex.size() != 2) {
        throw UsageError("--terminator wants two hexadecimal digits, not \"" + hex + "\"");
      }
      options.mix.base.terminator = static_cast<char>(byte);
    } else if (option == "--interval") {
      options.interval = std::chrono::milliseconds(ParseNumber(option, take_value(), 0, 3'600'000));
    } else if (option == "--load") {
      no_value();
      options.load = true;
    } else if (option == "--connections") {
      options.load_plan.connections = ParseNumber(option, take_value(), 1, 20'000);
    } else if (option == "--rate") {
      options.load_plan.rate = ParsePositive(option, take_value());
    } else if (option == "--duration") {
      const double seconds = ParsePositive(option, take_value());
      options.load_plan.duration = std::chrono::milliseconds(std::llround(seconds * 1000));
    } else if (option == "--machine") {
      no_value();
      options.machine = true;
    } else if (option.starts_with("-") && option != "-") {
      throw UsageError("unknown option " + option + " (see --help)");
    } else {
      options.lines.push_back(DecodeEscapes(option));
    }
  }
  options.load_plan.timeout = options.timeout;
  return options;
}

std::vector<std::string> CollectLines(const SimOptions& options) {
  std::vector<std::string> lines;
  if (!options.file.empty()) lines = ReadLineFile(options.file);
  lines.insert(lines.end(), options.lines.begin(), options.lines.end());
  try {
    if (options.random) {
      const auto generated =
          RandomLines(options.mix, options.count == 0 ? 10 : options.count, options.seed);
      lines.insert(lines.end(), generated.begin(), generated.end());
    } else if (!options.mix.accounts.empty() || !options.mix.events.empty()) {
      const auto generated = CombinedLines(options.mix, options.count);
      lines.insert(lines.end(), generated.begin(), generated.end());
    }
  } catch (const std::invalid_argument& error) {
    throw UsageError(error.what());
  }
  if (lines.empty()) throw UsageError("nothing to send: give lines, --file or a mix (see --help)");
  return lines;
}

std::string HelpText() {
  return R"(Usage: communicator-sim [options] [LINE...]

Sends receiver lines to the gateway over TCP as a GPRS communicator does, each line in one
segment, and reports what came back for each:
  ack     the byte 0x06
  poll    the poll reply 0x07 0x00
  silent  nothing within the time-out
  closed  the gateway closed the connection
  other   any other bytes
  error   no connection could be made, or the send failed
with the latency in milliseconds from the send until the outcome was known. The next line
goes out once the previous one's outcome is known; bytes that arrive late are dropped. A
connection the gateway has closed is opened again for the next line; opening a connection
may take up to 5 s (error otherwise).

Where to send:
  --host HOST        gateway address or name (default 127.0.0.1)
  --port N           gateway port (default 5551)
  --timeout MS       how long to wait for a reply (default 1000)

What to send (in this order: the file, the LINE arguments, the generated lines):
  LINE               a line as given; \xHH stands for a byte, \\ for a backslash, \" for a
                     quote (the terminating DC4 is \x14)
  --file PATH        one line per line of the file, line ends removed, empty lines skipped,
                     escapes as for LINE
  --accounts LIST    accounts, comma-separated (1234,0427); shorter numbers get leading zeros
  --events LIST      events CODE:ZONE[:GROUP], comma-separated (E130:005,R401:003:02); ZONE is
                     the zone or the user number, GROUP is 01 when left out
                     Without --random every account is sent with every event in turn.
  --count N          generated lines: the combinations repeat or are cut to N (default: each
                     combination once; 10 with --random)
  --random           draw each line's account and event at random from the lists; without
                     --accounts an account from 0001 to 9999, without --events one of E130,
                     R130, E110, R110, E401, R401, E301, R301, E602 in a zone from 001 to 032
  --seed N           seed of the random draws (default 1): the same seed, the same lines
  --line-digit D     line digit of generated lines, position 4 (default 0)
  --receiver NN      receiver number of generated lines, positions 2-3 (default 01)
  --terminator HH    last character of generated lines, in hexadecimal (default 14, DC4)
Generated lines read "5" receiver line-digit " 18" account code group zone terminator, 21
characters, as 5010 181234E13001005 followed by DC4.

How to send:
  --interval MS      pause between an outcome and the next line (default 0)
  --load             load mode: many connections at a rate for a time; the lines are used in
                     turn and over again, and a summary is printed instead of each line.
                     The connections are opened first, one a millisecond, so as not to
                     overflow the gateway's backlog
  --connections N    connections of the load (default 10)
  --rate R           lines per second over all connections (default 100); each connection
                     sends its share, and never before its previous line's outcome is known
  --duration S       seconds of sending (default 10); the last outcomes are awaited after it

Output:
  --machine          one record per line of output, fields as key=value:
                       exchange index=N outcome=ack latency_ms=0.412 line="..." reply="\x06"
                         [detail="..."]
                       summary lines=N ack=N poll=N silent=N closed=N other=N error=N
                         median_ms=X p99_ms=X max_ms=X elapsed_s=X throughput=X
                     texts in quotes with the escapes of LINE
  -h, --help         this text

The summary ends every run: the count of each outcome, the median, 99th percentile (nearest
rank) and maximum latency of the answered lines (ack and poll), and the throughput in lines
per second over the run's time.

Exit status: 0 once every line has its outcome, 1 when the run could not start (unknown
host, unreadable file), 2 for a usage error.
)";
}

}  // namespace gateway
