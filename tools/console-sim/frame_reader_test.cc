#include "console-sim/frame_reader.h"

#include <gtest/gtest.h>

#include "frames/bytes.h"

namespace gateway::console_sim {
namespace {

using Kind = Chunk::Kind;

const Bytes kAlarm = {0x1E, 0x06, 0x02, 0xD1, 0x04, 0x01, 0x50, 0x14, 0xB0};
// Its checksum is 0x1E, the start byte's value.
const Bytes kLineOneOpening = {0x1E, 0x07, 0x02, 0xD1, 0x04, 0x03, 0x02, 0x29, 0x70, 0x1E};
const Bytes kLinkTest = {0x1E, 0x01, 0x01, 0x24};

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

TEST(Crc8MaximTest, MatchesTheConsolesChecksum) {
  EXPECT_EQ(Crc8Maxim(BytesOf("123456789")), 0xA1);
  EXPECT_EQ(Crc8Maxim(Bytes{0x1E, 0x01, 0x01}), 0x24);
  EXPECT_EQ(Crc8Maxim(Bytes{0x1E, 0x01, 0x03}), 0x98);
  EXPECT_EQ(Crc8Maxim(Bytes{}), 0x00);
  EXPECT_EQ(Crc8Maxim(kAlarm), 0x00);
  EXPECT_EQ(Crc8Maxim(kLineOneOpening), 0x00);
}

TEST(FrameReaderTest, CutsTheStreamIntoFramesAndGarbage) {
  struct Case {
    const char* name;
    Bytes input;
    std::vector<Chunk> expected;
  };
  const Bytes bad_checksum = {0x1E, 0x01, 0x01, 0x25};
  const Case cases[] = {
      {"one frame", kAlarm, {{Kind::kFrame, kAlarm, true}}},
      {"frames back to back",
       Join({kLinkTest, kLineOneOpening, kAlarm}),
       {{Kind::kFrame, kLinkTest, true},
        {Kind::kFrame, kLineOneOpening, true},
        {Kind::kFrame, kAlarm, true}}},
      {"garbage before a frame",
       Join({{0xFF, 0x00, 0x06}, kAlarm}),
       {{Kind::kGarbage, {0xFF, 0x00, 0x06}, false}, {Kind::kFrame, kAlarm, true}}},
      {"a stray start byte whose frame would swallow the next one",
       Join({{0x1E, 0x02}, kAlarm}),
       {{Kind::kGarbage, {0x1E, 0x02}, false}, {Kind::kFrame, kAlarm, true}}},
      {"a wrong checksum is still a frame",
       Join({bad_checksum, kLinkTest}),
       {{Kind::kFrame, bad_checksum, false}, {Kind::kFrame, kLinkTest, true}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FrameReader reader;
    EXPECT_EQ(reader.Feed(c.input), c.expected);
    EXPECT_FALSE(reader.waiting());
  }
}

TEST(FrameReaderTest, FrameArrivingByteByByteIsReportedWhenItsLastByteComes) {
  FrameReader reader;
  for (std::size_t i = 0; i + 1 < kLineOneOpening.size(); ++i) {
    EXPECT_TRUE(reader.Feed(std::span(&kLineOneOpening[i], 1)).empty()) << i;
    EXPECT_TRUE(reader.waiting());
  }
  EXPECT_EQ(reader.Feed(std::span(&kLineOneOpening.back(), 1)),
            (std::vector<Chunk>{{Kind::kFrame, kLineOneOpening, true}}));
}

TEST(FrameReaderTest, UnfinishedFrameIsGivenUpWhenTheLineGoesQuiet) {
  FrameReader reader;
  // A start byte announcing 0xFF body bytes, then a real frame: only quiet can tell.
  EXPECT_TRUE(reader.Feed(Join({{0x1E, 0xFF, 0x33}, kAlarm})).empty());
  EXPECT_EQ(reader.Idle(), (std::vector<Chunk>{{Kind::kIncomplete, {0x1E, 0xFF, 0x33}, false},
                                               {Kind::kFrame, kAlarm, true}}));
  EXPECT_FALSE(reader.waiting());
  EXPECT_TRUE(reader.Feed(Bytes{0x1E}).empty());
  EXPECT_EQ(reader.Idle(), (std::vector<Chunk>{{Kind::kIncomplete, {0x1E}, false}}));
  EXPECT_EQ(reader.Feed(kAlarm), (std::vector<Chunk>{{Kind::kFrame, kAlarm, true}}));
}

TEST(FrameReaderTest, BadFrameWaitsForAFrameThatMayStartInsideIt) {
  FrameReader reader;
  // 1E 03 announces 6 bytes; a frame starting at its third byte is not complete yet.
  const Bytes stray = {0x1E, 0x03};
  EXPECT_TRUE(reader.Feed(Join({stray, {0x1E, 0x06, 0x02, 0xD1}})).empty());
  EXPECT_EQ(reader.Feed(Bytes{0x04, 0x01, 0x50, 0x14, 0xB0}),
            (std::vector<Chunk>{{Kind::kGarbage, stray, false}, {Kind::kFrame, kAlarm, true}}));
}

}  // namespace
}  // namespace gateway::console_sim
