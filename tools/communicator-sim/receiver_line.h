// Building the 21-character receiver line a communicator sends, and spelling lines with
// unprintable characters as text for command lines, files and reports.
#pragma once

#include <string>
#include <string_view>

namespace gateway {

// Receivers end their lines with DC4.
inline constexpr char kDefaultTerminator = '\x14';

struct ReceiverLineFields {
  std::string receiver = "01";  // 2 characters
  char line_digit = '0';
  std::string account;       // 4 characters: the object number
  std::string code;          // 4 characters: qualifier E or R and the event number, as E130
  std::string group = "01";  // 2 characters
  std::string zone;          // 3 characters: zone, or user number
  char terminator = kDefaultTerminator;
};

// "5" + receiver + line digit + " 18" + account + code + group + zone + terminator. Throws
// std::invalid_argument naming the field when a field does not have its width.
std::string BuildReceiverLine(const ReceiverLineFields& fields);

// A field given as fewer decimal digits than `width` gets leading zeros ("5" as a zone is
// "005"); anything else is kept as given, so that malformed lines can be sent on purpose.
std::string PadField(std::string_view text, std::size_t width);

// An event of a mix, written CODE:ZONE[:GROUP] (E130:005, R401:003:02); the group is 01 when
// left out.
struct MixEvent {
  std::string code;
  std::string zone;
  std::string group = "01";
};

// Throws std::invalid_argument with the offending text.
MixEvent ParseMixEvent(std::string_view text);

// Turns \xHH into that byte, \\ into a backslash and \" into a quote; other text is kept. Throws
// std::invalid_argument on a \x without two hexadecimal digits.
std::string DecodeEscapes(std::string_view text);

// Printable ASCII as is (backslash and double quote escaped), every other byte as \xHH.
std::string EscapeForDisplay(std::string_view bytes);

}  // namespace gateway
