#include "console-sim/sim_options.h"

#include <charconv>
#include <string_view>

namespace gateway::console_sim {
namespace {

long long ParseNumber(std::string_view option, std::string_view text, long long low,
                      long long high) {
  long long value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < low ||
      value > high) {
    throw UsageError(std::string(option) + " wants a number from " + std::to_string(low) + " to " +
                     std::to_string(high) + ", not \"" + std::string(text) + "\"");
  }
  return value;
}

std::vector<ReplyKind> ParseReplies(std::string_view text) {
  std::vector<ReplyKind> kinds;
  while (true) {
    const std::size_t comma = text.find(',');
    const std::string_view name = text.substr(0, comma);
    const std::optional<ReplyKind> kind = ParseReplyKind(name);
    if (!kind) {
      throw UsageError("--reply: \"" + std::string(name) +
                       "\" is none of ack, none, short, long, garbage, late");
    }
    kinds.push_back(*kind);
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  return kinds;
}

Bytes ParseAck(std::string_view text) {
  const auto bad = [&] {
    return UsageError("--ack wants 4 bytes as 8 hexadecimal digits, not \"" + std::string(text) +
                      "\"");
  };
  if (text.size() != 8) throw bad();
  Bytes bytes;
  for (std::size_t i = 0; i < text.size(); i += 2) {
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data() + i, text.data() + i + 2, value, 16);
    if (error != std::errc() || end != text.data() + i + 2) throw bad();
    bytes.push_back(static_cast<std::uint8_t>(value));
  }
  return bytes;
}

}  // namespace

SimOptions ParseOptions(const std::vector<std::string>& arguments) {
  SimOptions options;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    const std::size_t equals = argument.find('=');
    const std::string name = argument.substr(0, equals);
    bool has_value = equals != std::string::npos;
    std::string value = has_value ? argument.substr(equals + 1) : "";
    // "--name=value" or "--name value".
    const auto need_value = [&] {
      if (has_value) return;
      if (i + 1 >= arguments.size()) throw UsageError(name + " wants a value");
      value = arguments[++i];
      has_value = true;
    };
    const auto no_value = [&] {
      if (has_value) throw UsageError(name + " takes no value");
    };
    if (name == "--help" || name == "-h") {
      no_value();
      options.help = true;
    } else if (name == "--list-ports") {
      no_value();
      options.list_ports = true;
    } else if (name == "--link") {
      need_value();
      if (value.empty()) throw UsageError("--link wants a path; use --no-link for none");
      options.link = value;
    } else if (name == "--no-link") {
      no_value();
      options.link.clear();
    } else if (name == "--reply") {
      need_value();
      options.replies.kinds = ParseReplies(value);
    } else if (name == "--random") {
      no_value();
      options.replies.random = true;
    } else if (name == "--seed") {
      need_value();
      options.replies.seed =
          static_cast<std::uint64_t>(ParseNumber(name, value, 0, 9'000'000'000'000'000'000LL));
    } else if (name == "--ack") {
      need_value();
      options.replies.ack = ParseAck(value);
    } else if (name == "--delay") {
      need_value();
      options.replies.delay = std::chrono::milliseconds(ParseNumber(name, value, 0, 60'000));
    } else if (name == "--late") {
      need_value();
      options.replies.late_delay = std::chrono::milliseconds(ParseNumber(name, value, 0, 60'000));
    } else if (name == "--idle") {
      need_value();
      options.idle = std::chrono::milliseconds(ParseNumber(name, value, 1, 60'000));
    } else if (name == "--format") {
      need_value();
      if (value == "text") {
        options.format = OutputFormat::kText;
      } else if (value == "json") {
        options.format = OutputFormat::kJson;
      } else if (value == "tsv") {
        options.format = OutputFormat::kTsv;
      } else {
        throw UsageError("--format is text, json or tsv, not \"" + value + "\"");
      }
    } else if (name == "--frames") {
      need_value();
      options.frames = static_cast<int>(ParseNumber(name, value, 1, 1'000'000'000));
    } else if (name == "--seconds") {
      need_value();
      options.seconds = static_cast<int>(ParseNumber(name, value, 1, 1'000'000'000));
    } else {
      throw UsageError("unknown option \"" + name + "\" (see --help)");
    }
  }
  return options;
}

std::string HelpText() {
  return R"(Usage: console-sim [options]     (each option as --name=value or --name value)

A virtual Zorvan monitoring console for commissioning, demonstrations and tests. It opens a
pseudo-terminal, links it into /dev so the gateway's port list shows it, reads the frames the
gateway writes (start byte 1E, length byte, body, CRC-8/MAXIM checksum), prints one line per
frame and answers each frame.

Line:
  --link=PATH      link the pseudo-terminal as PATH (default /dev/ttyV0). A link there that
                   leads to a pseudo-terminal that no longer exists is replaced; anything else
                   there (a file, a device, a live link) is left alone and the simulator stops.
                   The link is removed when the simulator ends (also on Ctrl+C and SIGTERM).
  --no-link        make no link; the pseudo-terminal's own name is printed at the start.
  The gateway's port is the link's name relative to /dev ("ttyV0"); the line speed does not
  matter on a pseudo-terminal.

Replies:
  --reply=LIST     comma-separated replies, taken in turn, one per frame (default ack):
                     ack      the 4 acknowledgement bytes
                     none     nothing
                     short    the first 3 acknowledgement bytes (no acknowledgement)
                     long     the 4 bytes and one more (no acknowledgement)
                     garbage  1 to 12 random bytes, never 4
                     late     the acknowledgement after the --late delay, beyond the
                              gateway's wait for it
  --random         pick each reply from LIST at random instead of in turn
  --seed=N         seed of the random choices and garbage (default 1): a seed replays the same
                   replies
  --ack=HEX        the acknowledgement's 4 bytes as 8 hexadecimal digits (default 06060606);
                   the gateway counts any 4 bytes as an acknowledgement
  --delay=MS       wait MS milliseconds before every reply (default 0)
  --late=MS        the delay of a late reply (default 150)
  Bytes that are not a frame (garbage, or a frame whose bytes stop coming) get no reply. A
  frame with a wrong checksum is answered like any other.

Reading:
  --idle=MS        a frame whose announced bytes have not all come after MS milliseconds of
                   quiet is given up and reported as incomplete (default 50); reading goes on
                   at the next 1E after its start. Bytes before a 1E are reported as garbage.
                   A frame whose checksum fails is taken for garbage when a valid frame starts
                   inside it.

Output, one line per frame, on standard output:
  --format=text    time, bytes, checksum, kind, object, type, payload, event, reply (default)
  --format=json    one JSON object per line with the keys time, bytes, kind, checksum_ok,
                   object, type, payload, event, reply, reply_bytes, reply_delay_ms (null
                   where a field does not apply)
  --format=tsv     tab-separated records under a header line with those names
  Kinds: event, fault, restore, link test, second link test, other; and garbage or incomplete
  for bytes that are no frame. The object is the frame's object bytes + 1 (an account of 0000
  also travels as 0001). The event is read back through the gateway's translation tables: on
  type 01 (line digit other than 1) Tables A to D, on type 03 (line digit 1) Tables A and E.
  Every event that gives the same bytes is shown ("E302/E311", "... or ..."), never just one
  of them; zones are read as 1 to 160 and the users of openings as 1 to 48, the ranges the
  tables define; on line 1 only the last two digits of a zone or user travel.

Ending:
  --frames=N       end after answering N frames (300 ms after the last reply, so that the
                   gateway reads it before the line closes)
  --seconds=N      end after N seconds
  --help           this text

Ports:
  --list-ports     print the serial ports as the gateway lists them, one name a line, in the
                   gateway's order, and end (a position in this list, counted from 0, is what
                   the gateway stores as "cbPort.ItemIndex"); no line is opened
)";
}

}  // namespace gateway::console_sim
