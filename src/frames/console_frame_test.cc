#include "frames/console_frame.h"

#include <gtest/gtest.h>

#include <string>

#include "frames/conversion_error.h"

namespace gateway {
namespace {

TEST(EncodeObjectNumber, SubtractsOneLowByteFirstWithZeroCountingAsOne) {
  struct Case {
    int number;
    ObjectBytes bytes;
  };
  const Case cases[] = {
      {0, {0x00, 0x00}},   {1, {0x00, 0x00}},    {27, {0x1A, 0x00}},   {256, {0xFF, 0x00}},
      {257, {0x00, 0x01}}, {1234, {0xD1, 0x04}}, {9999, {0x0E, 0x27}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.bytes, EncodeObjectNumber(c.number)) << c.number;
  }
}

TEST(ConsoleFrame, BuildsTheWorkedFrames) {
  struct Case {
    ConsoleFrame frame;
    std::string bytes;
  };
  const ObjectBytes object_1234 = {0xD1, 0x04};
  const Case cases[] = {
      {BuildEventFrame(object_1234, kTypeEvent, Bytes{0x50, 0x14}), "1E 06 02 D1 04 01 50 14 B0"},
      {BuildEventFrame(object_1234, kTypeEvent, Bytes{0x5A, 0x14}), "1E 06 02 D1 04 01 5A 14 57"},
      {BuildEventFrame(object_1234, kTypeEvent, Bytes{0x08, 0x12, 0x48, 0x11}),
       "1E 08 02 D1 04 01 08 12 48 11 97"},
      // The checksum 1E goes out as it is: frames have no escaping.
      {BuildEventFrame(object_1234, kTypeLineOne, Bytes{0x02, 0x29, 0x70}),
       "1E 07 02 D1 04 03 02 29 70 1E"},
      {BuildEventFrame(object_1234, kTypeEvent, Bytes{}), "1E 04 02 D1 04 01 87"},
      {FaultFrame(27), "1E 05 02 1A 00 01 61 30"},
      {RestoreFrame(27), "1E 05 02 1A 00 01 60 6E"},
      {FaultFrame(256), "1E 05 02 FF 00 01 61 F8"},
      {RestoreFrame(9999), "1E 05 02 0E 27 01 60 B6"},
      // Object 0000 carries 00 00 as in the translation, not FF 00 (the bytes of object 0256).
      {FaultFrame(0), "1E 05 02 00 00 01 61 13"},
      {RestoreFrame(0), "1E 05 02 00 00 01 60 4D"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.bytes, HexPairs(c.frame));
  }
}

TEST(TestFrameFromHex, ReadsPairsAndAppendsTheirChecksum) {
  struct Case {
    std::string text;
    std::string bytes;
  };
  const Case cases[] = {
      {"1E06021A00015214", "1E 06 02 1A 00 01 52 14 7D"},
      {"1e06021a00015214", "1E 06 02 1A 00 01 52 14 7D"},
      {"", "00"},
      // A final odd digit is dropped, so the checksum covers exactly the bytes sent.
      {"1E06021A000152147", "1E 06 02 1A 00 01 52 14 7D"},
      {"F", "00"},
      // The length byte is sent as typed, even when it disagrees with the body.
      {"1E0901", "1E 09 01 52"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.bytes, HexPairs(TestFrameFromHex(c.text))) << c.text;
  }
}

TEST(TestFrameFromHex, RejectsAPairThatIsNotHexadecimal) {
  struct Case {
    std::string text;
    std::string message;
  };
  const Case cases[] = {
      {"1E06021A0001521G", "'1G' is not a valid integer value"},
      {"1E 0601", "' 0' is not a valid integer value"},
      {"+1", "'+1' is not a valid integer value"},
  };
  for (const Case& c : cases) {
    try {
      TestFrameFromHex(c.text);
      ADD_FAILURE() << "no error for " << c.text;
    } catch (const ConversionError& error) {
      EXPECT_EQ(c.message, error.what());
    }
  }
}

}  // namespace
}  // namespace gateway
