// The failure of reading a numeric text field: the translation, the settings and the test frame
// report it with the offending text in the message.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace gateway {

class ConversionError : public std::runtime_error {
 public:
  // Message: "'<text>' is not a valid integer value".
  explicit ConversionError(std::string_view text);
};

// Reads a non-negative decimal number made of decimal digits only (no blanks, no sign); throws
// ConversionError for anything else, the empty text and values beyond int included.
int ReadDecimal(std::string_view text);

// Reads two hexadecimal digits (either case) as one byte; throws ConversionError otherwise.
std::uint8_t ReadHexPair(std::string_view pair);

}  // namespace gateway
