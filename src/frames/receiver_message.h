// The 21-character receiver line that communicators send on both inbound channels.
#pragma once

#include <cstddef>
#include <string_view>

#include "frames/console_frame.h"

namespace gateway {

inline constexpr std::size_t kReceiverMessageLength = 21;

// A channel translates a buffer only when it is exactly 21 characters and starts with '5'.
bool IsAcceptableMessage(std::string_view buffer);

// Characters 8 to 11 of a receiver line: the object's account number (fewer characters, or
// none, when the text ends before them).
std::string_view AccountOf(std::string_view message);

// A translated frame of 7 bytes or fewer carries no event and is never sent to the console.
inline bool CarriesEvent(const ConsoleFrame& frame) { return frame.size() > 7; }

}  // namespace gateway
