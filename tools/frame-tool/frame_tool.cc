#include "frame-tool/frame_tool.h"

#include <algorithm>
#include <istream>
#include <ostream>
#include <string_view>

#include "frames/bytes.h"
#include "frames/console_frame.h"
#include "frames/conversion_error.h"
#include "frames/frame_checksum.h"
#include "frames/receiver_message.h"
#include "frames/translate_event.h"

namespace gateway {

namespace {

constexpr char kUsage[] =
    R"(Usage: frame-tool COMMAND [ARGUMENTS]
Builds the frames that the gateway sends to the console.

Commands:
  translate         Reads receiver lines from standard input. Each line, with its final "\n"
                    and a "\r" before it removed and nothing else trimmed, is one received
                    buffer. Prints for each the console frame, "rejected" when the buffer is
                    not a receiver message (exactly 21 characters, the first one 5), or
                    "error: " and the reason. No object counters are kept.
  test-frame TEXT   Prints the operator's test frame typed as TEXT: its hexadecimal pairs
                    (either case) followed by their checksum. A final odd digit is dropped;
                    the empty text gives 00.
  checksum HEX...   Prints the checksum of the given bytes as two hexadecimal digits. Each
                    argument holds one or more hexadecimal pairs, and blanks may separate the
                    pairs inside an argument: 1E 01 01, 1E0101 and "1E 01 01" are the same.
  --help            Prints this text.

Frames are printed as upper-case hexadecimal pairs separated by single spaces. A test frame or
checksum whose text cannot be read prints "error: " and the reason and ends with status 1;
a usage error ends with status 2.
)";

// The tool keeps no object table: translations reset nothing.
class NoCounters : public CounterReset {
 public:
  void ResetCounter(std::string_view) override {}
};

int Usage(std::ostream& err) {
  err << kUsage;
  return kFrameToolUsage;
}

int Translate(std::istream& in, std::ostream& out) {
  NoCounters counters;
  std::string line;
  while (std::getline(in, line)) {
    // getline stops at end of input without a "\n"; only a line that had one loses its "\r".
    const bool had_newline = !in.eof();
    if (had_newline && !line.empty() && line.back() == '\r') line.pop_back();
    if (!IsAcceptableMessage(line)) {
      out << "rejected\n";
    } else {
      try {
        out << HexPairs(TranslateEvent(line, counters)) << '\n';
      } catch (const ConversionError& error) {
        out << "error: " << error.what() << '\n';
      }
    }
    out.flush();
  }
  return kFrameToolOk;
}

int TestFrame(std::string_view text, std::ostream& out) {
  try {
    out << HexPairs(TestFrameFromHex(text)) << '\n';
    return kFrameToolOk;
  } catch (const ConversionError& error) {
    out << "error: " << error.what() << '\n';
    return kFrameToolFailed;
  }
}

// Appends the pairs of one argument; a blank-separated word of odd length is refused whole.
void AppendPairs(std::string_view argument, Bytes& bytes) {
  std::size_t at = 0;
  while (at < argument.size()) {
    const std::size_t start = argument.find_first_not_of(" \t", at);
    if (start == std::string_view::npos) return;
    const std::size_t end = std::min(argument.find_first_of(" \t", start), argument.size());
    const std::string_view word = argument.substr(start, end - start);
    if (word.size() % 2 != 0) throw ConversionError(word);
    for (std::size_t pair = 0; pair < word.size(); pair += 2) {
      bytes.push_back(ReadHexPair(word.substr(pair, 2)));
    }
    at = end;
  }
}

int Checksum(std::span<const std::string> arguments, std::ostream& out) {
  Bytes bytes;
  try {
    for (const std::string& argument : arguments) AppendPairs(argument, bytes);
  } catch (const ConversionError& error) {
    out << "error: " << error.what() << '\n';
    return kFrameToolFailed;
  }
  const std::uint8_t checksum[] = {ChecksumOf(bytes)};
  out << HexPairs(checksum) << '\n';
  return kFrameToolOk;
}

}  // namespace

int RunFrameTool(std::span<const std::string> args, std::istream& in, std::ostream& out,
                 std::ostream& err) {
  if (args.empty()) return Usage(err);
  const std::string& command = args[0];
  const std::span<const std::string> rest = args.subspan(1);
  if (command == "--help" && rest.empty()) {
    out << kUsage;
    return kFrameToolOk;
  }
  if (command == "translate" && rest.empty()) return Translate(in, out);
  if (command == "test-frame" && rest.size() == 1) return TestFrame(rest[0], out);
  if (command == "checksum" && !rest.empty()) return Checksum(rest, out);
  return Usage(err);
}

}  // namespace gateway
