#include "communicator-sim/receiver_line.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

namespace gateway {

namespace {

void RequireWidth(std::string_view name, std::string_view value, std::size_t width) {
  if (value.size() != width) {
    throw std::invalid_argument(std::string(name) + " \"" + EscapeForDisplay(value) +
                                "\" must be " + std::to_string(width) + " characters");
  }
}

bool AllDigits(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](unsigned char c) { return std::isdigit(c) != 0; });
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string BuildReceiverLine(const ReceiverLineFields& fields) {
  RequireWidth("receiver", fields.receiver, 2);
  RequireWidth("account", fields.account, 4);
  RequireWidth("event code", fields.code, 4);
  RequireWidth("group", fields.group, 2);
  RequireWidth("zone", fields.zone, 3);
  std::string line = "5";
  line += fields.receiver;
  line += fields.line_digit;
  line += " 18";
  line += fields.account;
  line += fields.code;
  line += fields.group;
  line += fields.zone;
  line += fields.terminator;
  return line;
}

std::string PadField(std::string_view text, std::size_t width) {
  if (text.empty() || text.size() >= width || !AllDigits(text)) return std::string(text);
  return std::string(width - text.size(), '0') + std::string(text);
}

MixEvent ParseMixEvent(std::string_view text) {
  const auto bad = [&] {
    return std::invalid_argument("event \"" + std::string(text) +
                                 "\" is not CODE:ZONE[:GROUP], such as E130:005 or R401:003:02");
  };
  const std::size_t first = text.find(':');
  if (first == std::string_view::npos) throw bad();
  const std::size_t second = text.find(':', first + 1);
  MixEvent event;
  event.code = std::string(text.substr(0, first));
  event.zone =
      PadField(text.substr(first + 1, second == std::string_view::npos ? std::string_view::npos
                                                                       : second - first - 1),
               3);
  if (second != std::string_view::npos) event.group = PadField(text.substr(second + 1), 2);
  if (event.code.size() != 4 || event.zone.size() != 3 || event.group.size() != 2) throw bad();
  return event;
}

std::string DecodeEscapes(std::string_view text) {
  std::string decoded;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 >= text.size()) {
      decoded += text[i];
    } else if (text[i + 1] == '\\' || text[i + 1] == '"') {
      decoded += text[i + 1];
      ++i;
    } else if (text[i + 1] == 'x') {
      const int high = i + 2 < text.size() ? HexValue(text[i + 2]) : -1;
      const int low = i + 3 < text.size() ? HexValue(text[i + 3]) : -1;
      if (high < 0 || low < 0) {
        throw std::invalid_argument("\"" + std::string(text) +
                                    "\": \\x must be followed by two hexadecimal digits");
      }
      decoded += static_cast<char>(high * 16 + low);
      i += 3;
    } else {
      decoded += text[i];
    }
  }
  return decoded;
}

std::string EscapeForDisplay(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string shown;
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\\' || c == '"') {
      shown += '\\';
      shown += c;
    } else if (byte >= 0x20 && byte < 0x7F) {
      shown += c;
    } else {
      shown += "\\x";
      shown += kDigits[byte >> 4];
      shown += kDigits[byte & 0x0F];
    }
  }
  return shown;
}

}  // namespace gateway
