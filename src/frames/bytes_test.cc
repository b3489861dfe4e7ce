#include "frames/bytes.h"

#include <gtest/gtest.h>

namespace gateway {
namespace {

TEST(HexPairs, SpellsUpperCasePairsSeparatedBySingleSpaces) {
  EXPECT_EQ("", HexPairs(Bytes{}));
  EXPECT_EQ("00", HexPairs(Bytes{0x00}));
  EXPECT_EQ("1E 06 02 D1 04 01 50 14 B0",
            HexPairs(Bytes{0x1E, 0x06, 0x02, 0xD1, 0x04, 0x01, 0x50, 0x14, 0xB0}));
  EXPECT_EQ("FF 0A", HexPairs(Bytes{0xFF, 0x0A}));
}

TEST(BytesOf, KeepsEveryCharacterIncludingNulAndHighBytes) {
  const std::string text("5\0\xFF", 3);
  const Bytes bytes = BytesOf(text);
  ASSERT_EQ(3u, bytes.size());
  EXPECT_EQ(0x35, bytes[0]);
  EXPECT_EQ(0x00, bytes[1]);
  EXPECT_EQ(0xFF, bytes[2]);
  EXPECT_EQ(text, TextOf(bytes));
}

}  // namespace
}  // namespace gateway
