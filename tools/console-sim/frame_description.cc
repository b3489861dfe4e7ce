#include "console-sim/frame_description.h"

#include "console-sim/event_lookup.h"
#include "console-sim/frame_reader.h"

namespace gateway::console_sim {

std::string_view KindName(FrameKind kind) {
  switch (kind) {
    case FrameKind::kEvent:
      return "event";
    case FrameKind::kFault:
      return "fault";
    case FrameKind::kRestore:
      return "restore";
    case FrameKind::kLinkTest:
      return "link test";
    case FrameKind::kSecondLinkTest:
      return "second link test";
    case FrameKind::kOther:
      break;
  }
  return "other";
}

FrameDescription DescribeFrame(std::span<const std::uint8_t> frame) {
  FrameDescription d;
  d.checksum_ok = !frame.empty() && Crc8Maxim(frame) == 0;
  if (frame.size() < 3 || frame[0] != FrameReader::kStart || frame[1] + 3u != frame.size()) {
    return d;
  }
  const std::span<const std::uint8_t> body = frame.subspan(2, frame[1]);
  if (body.size() == 1 && body[0] == 0x01) {
    d.kind = FrameKind::kLinkTest;
  } else if (body.size() == 1 && body[0] == 0x03) {
    d.kind = FrameKind::kSecondLinkTest;
  } else if (body.size() >= 4 && body[0] == 0x02) {
    d.object = body[1] + 256 * body[2] + 1;
    d.type = body[3];
    d.payload.assign(body.begin() + 4, body.end());
    if (d.type == 0x01 && d.payload == Bytes{0x61}) {
      d.kind = FrameKind::kFault;
    } else if (d.type == 0x01 && d.payload == Bytes{0x60}) {
      d.kind = FrameKind::kRestore;
    } else {
      d.kind = FrameKind::kEvent;
      d.event = DescribeEvents(LookupEvents(static_cast<std::uint8_t>(d.type), d.payload));
    }
  }
  return d;
}

}  // namespace gateway::console_sim
