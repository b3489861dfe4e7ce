#include "frames/console_frame.h"

#include "frames/conversion_error.h"
#include "frames/frame_checksum.h"

namespace gateway {

ObjectBytes EncodeObjectNumber(int object_number) {
  const unsigned offset = object_number < 1 ? 0u : static_cast<unsigned>(object_number) - 1u;
  return ObjectBytes{static_cast<std::uint8_t>(offset & 0xFF),
                     static_cast<std::uint8_t>((offset >> 8) & 0xFF)};
}

ConsoleFrame BuildEventFrame(ObjectBytes object, std::uint8_t type,
                             std::span<const std::uint8_t> payload) {
  ConsoleFrame frame;
  frame.reserve(7 + payload.size());
  // The zero holds the length byte's place until the body is complete.
  for (std::uint8_t byte :
       {kFrameStart, std::uint8_t{0x00}, kEventKind, object.lo, object.hi, type}) {
    frame.push_back(byte);
  }
  for (std::uint8_t byte : payload) frame.push_back(byte);
  frame[1] = static_cast<std::uint8_t>(frame.size() - 2);
  frame.push_back(ChecksumOf(frame));
  return frame;
}

ConsoleFrame FaultFrame(int object_number) {
  const std::uint8_t payload[] = {kFaultPayload};
  return BuildEventFrame(EncodeObjectNumber(object_number), kTypeEvent, payload);
}

ConsoleFrame RestoreFrame(int object_number) {
  const std::uint8_t payload[] = {kRestorePayload};
  return BuildEventFrame(EncodeObjectNumber(object_number), kTypeEvent, payload);
}

Bytes TestFrameFromHex(std::string_view text) {
  // Every pair is read before the frame is returned, so a bad pair anywhere sends nothing.
  Bytes frame;
  frame.reserve(text.size() / 2 + 1);
  for (std::size_t at = 0; at + 2 <= text.size(); at += 2) {
    frame.push_back(ReadHexPair(text.substr(at, 2)));
  }
  frame.push_back(ChecksumOf(frame));
  return frame;
}

}  // namespace gateway
