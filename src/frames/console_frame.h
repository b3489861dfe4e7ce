// The binary frames sent to the console: 0x1E, a length byte, the body and the checksum.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "frames/bytes.h"

namespace gateway {

using ConsoleFrame = Bytes;

inline constexpr std::uint8_t kFrameStart = 0x1E;
inline constexpr std::uint8_t kEventKind = 0x02;
inline constexpr std::uint8_t kTypeEvent = 0x01;    // any line digit but '1'; faults, restores
inline constexpr std::uint8_t kTypeLineOne = 0x03;  // events received on line digit '1'
inline constexpr std::uint8_t kFaultPayload = 0x61;
inline constexpr std::uint8_t kRestorePayload = 0x60;

// Object number as frames carry it: number − 1, low byte first; 0 counts as 1 (gives 00 00), and
// so does anything below it.
struct ObjectBytes {
  std::uint8_t lo = 0;
  std::uint8_t hi = 0;
  friend bool operator==(const ObjectBytes&, const ObjectBytes&) = default;
};
ObjectBytes EncodeObjectNumber(int object_number);

// 1E LEN 02 lo hi type payload CRC, built in the order the console expects: start bytes, object
// and type, payload, then the length byte, then the checksum over everything before it. Event
// payloads are 0 to 4 bytes.
ConsoleFrame BuildEventFrame(ObjectBytes object, std::uint8_t type,
                             std::span<const std::uint8_t> payload);

// 1E 05 02 lo hi 01 61 CRC: the object has stayed silent up to its limit.
ConsoleFrame FaultFrame(int object_number);
// 1E 05 02 lo hi 01 60 CRC: the object has been heard again after a fault.
ConsoleFrame RestoreFrame(int object_number);

// The link test and the frame sent after a link-test reply that is not an acknowledgement.
inline const ConsoleFrame kLinkTestFrame = {0x1E, 0x01, 0x01, 0x24};
inline const ConsoleFrame kSecondLinkTestFrame = {0x1E, 0x01, 0x03, 0x98};

// The operator's test frame: the text read as hexadecimal pairs (either case), then their
// checksum. A final odd digit is dropped. A pair that is not hexadecimal throws
// ConversionError and nothing is built. The empty text gives the single byte 00.
Bytes TestFrameFromHex(std::string_view text);

}  // namespace gateway
