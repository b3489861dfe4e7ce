// Byte strings as they travel to and from the console, and their hexadecimal spelling.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace gateway {

using Bytes = std::vector<std::uint8_t>;

// "1E 06 02": upper-case hexadecimal pairs separated by single spaces; empty for no bytes.
std::string HexPairs(std::span<const std::uint8_t> bytes);

// The bytes of a text, one byte per character (receiver lines travel as single-byte text).
Bytes BytesOf(std::string_view text);

// The text whose characters are the given bytes.
std::string TextOf(std::span<const std::uint8_t> bytes);

}  // namespace gateway
