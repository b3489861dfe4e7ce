// Cuts the byte stream the gateway sends to the console into frames by their start byte and
// length byte, finding its way back when garbage or a broken frame comes in between.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "frames/bytes.h"

namespace gateway::console_sim {

// CRC-8/MAXIM over `bytes` (reflected polynomial 0x8C, initial 0, no final XOR); a whole frame
// with its checksum byte gives 0. Computed here bit by bit, independently of the gateway's
// own table, so the simulator checks the gateway rather than repeating it.
std::uint8_t Crc8Maxim(std::span<const std::uint8_t> bytes);

struct Chunk {
  enum class Kind {
    kFrame,       // start byte, length byte and all the bytes they announce
    kIncomplete,  // a start of a frame whose bytes stopped coming
    kGarbage,     // bytes outside any frame
  };
  Kind kind = Kind::kGarbage;
  Bytes bytes;
  bool checksum_ok = false;  // for kFrame: the announced bytes end in their CRC

  friend bool operator==(const Chunk&, const Chunk&) = default;
};

class FrameReader {
 public:
  static constexpr std::uint8_t kStart = 0x1E;

  // Takes received bytes; returns the chunks they complete, in order.
  std::vector<Chunk> Feed(std::span<const std::uint8_t> bytes);
  // The line has been quiet for a while: gives up waiting for the rest of a frame, reports
  // the unfinished start and reads on from the next start byte after it.
  std::vector<Chunk> Idle();
  // Bytes are held back waiting for more (the caller then arms its quiet-line timer).
  bool waiting() const { return !buffer_.empty(); }

 private:
  std::vector<Chunk> Take(bool idle);

  Bytes buffer_;
};

}  // namespace gateway::console_sim
