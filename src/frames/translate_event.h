// Translation of a receiver line into the console's event frame.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "frames/console_frame.h"

namespace gateway {

// Whatever keeps the supervised objects: every translation marks its object as heard first.
class CounterReset {
 public:
  virtual ~CounterReset() = default;
  // Sets the minute counter of every record whose object number equals `account` to "000".
  virtual void ResetCounter(std::string_view account) = 0;
};

// Turns an accepted receiver line into a frame of 7 to 11 bytes. Resets the object's counters
// through `heard` before any field is read; a field that the code needs and that is not decimal
// throws ConversionError. A text shorter than a line reads the missing characters as absent.
ConsoleFrame TranslateEvent(std::string_view message, CounterReset& heard);

// The command byte and zone byte for a zone (0 and below count as 1) on the given base byte.
// Zones above 160 continue the banks of 32; the command byte wraps modulo 256.
std::array<std::uint8_t, 2> EncodeZone(int zone, std::uint8_t base);

}  // namespace gateway
