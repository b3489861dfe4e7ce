#include "frames/conversion_error.h"

#include <climits>

namespace gateway {

ConversionError::ConversionError(std::string_view text)
    : std::runtime_error("'" + std::string(text) + "' is not a valid integer value") {}

int ReadDecimal(std::string_view text) {
  if (text.empty()) throw ConversionError(text);
  long long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') throw ConversionError(text);
    value = value * 10 + (c - '0');
    if (value > INT_MAX) throw ConversionError(text);
  }
  return static_cast<int>(value);
}

namespace {

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

std::uint8_t ReadHexPair(std::string_view pair) {
  if (pair.size() != 2) throw ConversionError(pair);
  const int high = HexDigitValue(pair[0]);
  const int low = HexDigitValue(pair[1]);
  if (high < 0 || low < 0) throw ConversionError(pair);
  return static_cast<std::uint8_t>(high * 16 + low);
}

}  // namespace gateway
