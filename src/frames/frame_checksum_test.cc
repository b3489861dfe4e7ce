#include "frames/frame_checksum.h"

#include <gtest/gtest.h>

#include "frames/bytes.h"
#include "frames/console_frame.h"

namespace gateway {
namespace {

TEST(ChecksumOf, MatchesKnownValues) {
  struct Case {
    Bytes bytes;
    std::uint8_t checksum;
  };
  const Case cases[] = {
      {{}, 0x00},
      {BytesOf("123456789"), 0xA1},  // the CRC-8/MAXIM check value
      {{0x01}, 0x5E},
      {{0x80}, 0x8C},
      {{0x1E, 0x01, 0x01}, 0x24},  // link-test frame
      {{0x1E, 0x01, 0x03}, 0x98},  // second link-test frame
      {{0x1E, 0x06, 0x02, 0x1A, 0x00, 0x01, 0x52, 0x14}, 0x7D},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.checksum, ChecksumOf(c.bytes)) << HexPairs(c.bytes);
  }
}

// A reflected CRC without final XOR leaves no remainder over data followed by its checksum, so
// this pins down every table entry, not only the ones quoted above.
TEST(ChecksumOf, IsZeroOverAnyBytesFollowedByTheirChecksum) {
  for (int first = 0; first < 256; ++first) {
    Bytes bytes = {static_cast<std::uint8_t>(first), 0x1E, static_cast<std::uint8_t>(255 - first)};
    bytes.push_back(ChecksumOf(bytes));
    ASSERT_EQ(0, ChecksumOf(bytes)) << HexPairs(bytes);
  }
  EXPECT_EQ(0, ChecksumOf(kLinkTestFrame));
  EXPECT_EQ(0, ChecksumOf(kSecondLinkTestFrame));
}

TEST(FrameChecksum, RunningValuesOfInterleavedBuildsStayApart) {
  const Bytes alarm = {0x1E, 0x06, 0x02, 0xD1, 0x04, 0x01, 0x50, 0x14};
  const Bytes link_test = {0x1E, 0x01, 0x01};
  FrameChecksum first;
  FrameChecksum second;
  EXPECT_EQ(0, first.value());
  for (std::size_t i = 0; i < alarm.size(); ++i) {
    first.Step(alarm[i]);
    if (i < link_test.size()) second.Step(link_test[i]);
  }
  EXPECT_EQ(0xB0, first.value());
  EXPECT_EQ(0x24, second.value());
}

}  // namespace
}  // namespace gateway
