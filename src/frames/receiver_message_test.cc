#include "frames/receiver_message.h"

#include <gtest/gtest.h>

#include <string>

namespace gateway {
namespace {

TEST(IsAcceptableMessage, NeedsExactlyTwentyOneCharactersStartingWithFive) {
  struct Case {
    std::string buffer;
    bool acceptable;
  };
  const Case cases[] = {
      {"5010 181234E13001005\x14", true},
      {std::string("5\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0", 21), true},
      {"5010 181234E13001005", false},
      {"5010 181234E13001005\x14\x14", false},
      {"4010 181234E13001005\x14", false},
      {" 010 181234E13001005\x14", false},
      {"", false},
      {"5", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.acceptable, IsAcceptableMessage(c.buffer)) << '"' << c.buffer << '"';
  }
}

TEST(AccountOf, TakesCharactersEightToElevenOrWhatIsThereOfThem) {
  EXPECT_EQ("1234", AccountOf("5010 181234E13001005\x14"));
  EXPECT_EQ("12A4", AccountOf("5010 1812A4E13001005\x14"));
  EXPECT_EQ("12", AccountOf("5010 1812"));
  EXPECT_EQ("", AccountOf("5010"));
}

TEST(CarriesEvent, OnlyFramesLongerThanSevenBytes) {
  EXPECT_FALSE(CarriesEvent({0x1E, 0x04, 0x02, 0xD1, 0x04, 0x01, 0x87}));
  EXPECT_TRUE(CarriesEvent({0x1E, 0x05, 0x02, 0xD1, 0x04, 0x01, 0x68, 0x9F}));
}

}  // namespace
}  // namespace gateway
