// What one console frame says: its kind, object, type byte, payload and, where the translation
// tables allow only one reading, the event it stands for.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "frames/bytes.h"

namespace gateway::console_sim {

enum class FrameKind { kEvent, kFault, kRestore, kLinkTest, kSecondLinkTest, kOther };

// "event", "fault", "restore", "link test", "second link test", "other".
std::string_view KindName(FrameKind kind);

struct FrameDescription {
  FrameKind kind = FrameKind::kOther;
  bool checksum_ok = false;
  int object = -1;  // the object number (bytes + 1), -1 for frames without one
  int type = -1;    // the type byte, -1 for frames without one
  Bytes payload;
  std::string event;  // DescribeEvents of the payload; empty for no event
};

// Describes a whole frame: start byte, length byte, body, checksum.
FrameDescription DescribeFrame(std::span<const std::uint8_t> frame);

}  // namespace gateway::console_sim
