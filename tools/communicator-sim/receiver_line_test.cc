#include "communicator-sim/receiver_line.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace gateway {
namespace {

TEST(BuildReceiverLine, LaysTheFieldsOutInTwentyOneCharacters) {
  ReceiverLineFields fields;
  fields.account = "1234";
  fields.code = "E130";
  fields.zone = "005";
  EXPECT_EQ("5010 181234E13001005\x14", BuildReceiverLine(fields));

  fields.receiver = "07";
  fields.line_digit = '1';
  fields.account = "0427";
  fields.code = "R401";
  fields.group = "02";
  fields.zone = "003";
  fields.terminator = '\r';
  const std::string line = BuildReceiverLine(fields);
  EXPECT_EQ("5071 180427R40102003\r", line);
  ASSERT_EQ(21u, line.size());
  // The account sits at characters 8 to 11, where the gateway looks for it.
  EXPECT_EQ("0427", line.substr(7, 4));
}

TEST(BuildReceiverLine, RefusesAFieldOfTheWrongWidth) {
  ReceiverLineFields fields;
  fields.account = "123";
  fields.code = "E130";
  fields.zone = "005";
  try {
    BuildReceiverLine(fields);
    FAIL();
  } catch (const std::invalid_argument& error) {
    EXPECT_STREQ("account \"123\" must be 4 characters", error.what());
  }
  fields.account = "1234";
  fields.zone = "0005";
  EXPECT_THROW(BuildReceiverLine(fields), std::invalid_argument);
}

TEST(PadField, ZeroPadsShortNumbersAndKeepsEverythingElse) {
  EXPECT_EQ("005", PadField("5", 3));
  EXPECT_EQ("0027", PadField("27", 4));
  EXPECT_EQ("1234", PadField("1234", 4));
  EXPECT_EQ("12345", PadField("12345", 4));  // too long: the width check reports it
  EXPECT_EQ("12A", PadField("12A", 4));      // not a number: sent as given
  EXPECT_EQ("", PadField("", 3));
}

TEST(ParseMixEvent, ReadsCodeZoneAndOptionalGroup) {
  const MixEvent plain = ParseMixEvent("E130:5");
  EXPECT_EQ("E130", plain.code);
  EXPECT_EQ("005", plain.zone);
  EXPECT_EQ("01", plain.group);
  const MixEvent grouped = ParseMixEvent("R401:003:2");
  EXPECT_EQ("R401", grouped.code);
  EXPECT_EQ("003", grouped.zone);
  EXPECT_EQ("02", grouped.group);
  for (const char* bad : {"E130", "E13:005", "E130:", "E130:0005", "E130:005:123", ""}) {
    SCOPED_TRACE(bad);
    EXPECT_THROW(ParseMixEvent(bad), std::invalid_argument);
  }
}

TEST(Escapes, DecodeAndDisplayRoundTrip) {
  const std::string bytes("5010 18\"x\\\x14\x00\xFF", 13);
  const std::string shown = EscapeForDisplay(bytes);
  EXPECT_EQ("5010 18\\\"x\\\\\\x14\\x00\\xFF", shown);
  EXPECT_EQ(bytes, DecodeEscapes(shown));
  EXPECT_EQ("a\\qb", DecodeEscapes("a\\qb"));  // an unknown escape stays as written
  EXPECT_THROW(DecodeEscapes("\\x1"), std::invalid_argument);
  EXPECT_THROW(DecodeEscapes("\\xZZ"), std::invalid_argument);
}

}  // namespace
}  // namespace gateway
