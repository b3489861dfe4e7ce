// The checksum that closes every console frame: CRC-8/MAXIM (reflected polynomial 0x8C,
// initial value 0, no final XOR), computed through its 256-entry table.
#pragma once

#include <cstdint>
#include <span>

namespace gateway {

// One table step: returns T[running XOR byte].
std::uint8_t ChecksumStep(std::uint8_t running, std::uint8_t byte);

// The running checksum of one frame build. Every build keeps its own, so builds on different
// threads never disturb one another.
class FrameChecksum {
 public:
  void Step(std::uint8_t byte) { value_ = ChecksumStep(value_, byte); }
  std::uint8_t value() const { return value_; }

 private:
  std::uint8_t value_ = 0;
};

// The checksum of a byte string: 0 for no bytes, 0 for a whole frame with its checksum byte.
std::uint8_t ChecksumOf(std::span<const std::uint8_t> bytes);

}  // namespace gateway
