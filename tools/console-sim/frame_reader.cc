#include "console-sim/frame_reader.h"

#include <algorithm>

namespace gateway::console_sim {
namespace {

constexpr std::size_t kNotYet = static_cast<std::size_t>(-1);

// Length of the frame announced at `at`, or kNotYet while its length byte has not come.
std::size_t AnnouncedSize(const Bytes& buffer, std::size_t at) {
  if (buffer.size() < at + 2) return kNotYet;
  return static_cast<std::size_t>(buffer[at + 1]) + 3;
}

bool ValidFrameAt(const Bytes& buffer, std::size_t at, bool& complete) {
  const std::size_t size = AnnouncedSize(buffer, at);
  complete = size != kNotYet && buffer.size() >= at + size;
  if (!complete) return false;
  return Crc8Maxim(std::span(buffer).subspan(at, size)) == 0;
}

}  // namespace

std::uint8_t Crc8Maxim(std::span<const std::uint8_t> bytes) {
  std::uint8_t crc = 0;
  for (std::uint8_t byte : bytes) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc & 1) ? static_cast<std::uint8_t>((crc >> 1) ^ 0x8C)
                      : static_cast<std::uint8_t>(crc >> 1);
    }
  }
  return crc;
}

std::vector<Chunk> FrameReader::Feed(std::span<const std::uint8_t> bytes) {
  buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
  return Take(false);
}

std::vector<Chunk> FrameReader::Idle() { return Take(true); }

std::vector<Chunk> FrameReader::Take(bool idle) {
  std::vector<Chunk> chunks;
  const auto emit = [&](Chunk::Kind kind, std::size_t size, bool checksum_ok) {
    chunks.push_back(Chunk{kind, Bytes(buffer_.begin(), buffer_.begin() + size), checksum_ok});
    buffer_.erase(buffer_.begin(), buffer_.begin() + size);
  };
  // The next start byte after position 0, or the end of the buffer.
  const auto next_start = [&] {
    auto it = std::find(buffer_.begin() + 1, buffer_.end(), kStart);
    return static_cast<std::size_t>(it - buffer_.begin());
  };

  while (!buffer_.empty()) {
    if (buffer_[0] != kStart) {
      const auto it = std::find(buffer_.begin(), buffer_.end(), kStart);
      emit(Chunk::Kind::kGarbage, static_cast<std::size_t>(it - buffer_.begin()), false);
      continue;
    }
    const std::size_t size = AnnouncedSize(buffer_, 0);
    if (size == kNotYet || buffer_.size() < size) {
      if (!idle) break;
      emit(Chunk::Kind::kIncomplete, next_start(), false);
      continue;
    }
    bool complete = false;
    if (ValidFrameAt(buffer_, 0, complete)) {
      emit(Chunk::Kind::kFrame, size, true);
      continue;
    }
    // The checksum fails: the start byte may have been garbage that happens to be 0x1E. A
    // valid frame starting inside this one means so; one that may still be arriving is
    // waited for.
    std::size_t resync = 0;
    bool wait = false;
    for (std::size_t at = 1; at < size && resync == 0; ++at) {
      if (buffer_[at] != kStart) continue;
      if (ValidFrameAt(buffer_, at, complete)) {
        resync = at;
      } else if (!complete) {
        wait = true;
      }
    }
    if (resync > 0) {
      emit(Chunk::Kind::kGarbage, resync, false);
    } else if (wait && !idle) {
      break;
    } else {
      emit(Chunk::Kind::kFrame, size, false);
    }
  }
  return chunks;
}

}  // namespace gateway::console_sim
