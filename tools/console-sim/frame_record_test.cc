#include "console-sim/frame_record.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace gateway::console_sim {
namespace {

const Bytes kAlarm = {0x1E, 0x06, 0x02, 0xD1, 0x04, 0x01, 0x50, 0x14, 0xB0};

TEST(DescribeFrameTest, TellsTheKindAndFieldsOfEveryFrameTheGatewaySends) {
  struct Case {
    Bytes frame;
    FrameKind kind;
    bool checksum_ok;
    int object;
    int type;
    Bytes payload;
  };
  const Case cases[] = {
      {kAlarm, FrameKind::kEvent, true, 1234, 0x01, {0x50, 0x14}},
      {{0x1E, 0x04, 0x02, 0xD1, 0x04, 0x01, 0x87}, FrameKind::kEvent, true, 1234, 0x01, {}},
      {{0x1E, 0x05, 0x02, 0x1A, 0x00, 0x01, 0x61, 0x30}, FrameKind::kFault, true, 27, 0x01, {0x61}},
      {{0x1E, 0x05, 0x02, 0x1A, 0x00, 0x01, 0x60, 0x6E},
       FrameKind::kRestore,
       true,
       27,
       0x01,
       {0x60}},
      {{0x1E, 0x05, 0x02, 0x0E, 0x27, 0x03, 0x4E, 0x00},
       FrameKind::kEvent,
       false,
       9999,
       0x03,
       {0x4E}},
      {{0x1E, 0x01, 0x01, 0x24}, FrameKind::kLinkTest, true, -1, -1, {}},
      {{0x1E, 0x01, 0x03, 0x98}, FrameKind::kSecondLinkTest, true, -1, -1, {}},
      {{0x1E, 0x02, 0x05, 0x05, 0x00}, FrameKind::kOther, false, -1, -1, {}},
      {{0x1E, 0x03, 0x02, 0x1A, 0x00, 0x00}, FrameKind::kOther, false, -1, -1, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(HexPairs(c.frame));
    const FrameDescription d = DescribeFrame(c.frame);
    EXPECT_EQ(d.kind, c.kind);
    EXPECT_EQ(d.checksum_ok, c.checksum_ok);
    EXPECT_EQ(d.object, c.object);
    EXPECT_EQ(d.type, c.type);
    EXPECT_EQ(d.payload, c.payload);
  }
  const std::string event = DescribeFrame(kAlarm).event;
  EXPECT_NE(event.find("/E130/"), std::string::npos) << event;
  EXPECT_TRUE(event.ends_with(" zone 5")) << event;
}

TEST(FormatRecordTest, WritesOneLinePerChunkInEachFormat) {
  const FrameRecord frame{
      "10:11:12.013",
      {Chunk::Kind::kFrame, {0x1E, 0x05, 0x02, 0x1A, 0x00, 0x01, 0x6B, 0x4E}, true},
      Reply{ReplyKind::kShort, {0x06, 0x06, 0x06}, std::chrono::milliseconds(5)}};
  const FrameRecord garbage{
      "10:11:12.014", {Chunk::Kind::kGarbage, {0xFF, 0x00}, false}, std::nullopt};
  const FrameRecord link_test{"10:11:12.015",
                              {Chunk::Kind::kFrame, {0x1E, 0x01, 0x01, 0x24}, true},
                              Reply{ReplyKind::kNone, {}, std::chrono::milliseconds(0)}};

  EXPECT_EQ(FormatRecord(OutputFormat::kText, frame),
            "10:11:12.013  1E 05 02 1A 00 01 6B 4E  crc ok  event  object 0027  type 01  "
            "payload 6B  E302/E311  -> short 06 06 06 after 5 ms");
  EXPECT_EQ(FormatRecord(OutputFormat::kText, garbage), "10:11:12.014  FF 00  garbage");
  EXPECT_EQ(FormatRecord(OutputFormat::kText, link_test),
            "10:11:12.015  1E 01 01 24  crc ok  link test  -> none");

  EXPECT_EQ(FormatRecord(OutputFormat::kJson, frame),
            R"({"time":"10:11:12.013","bytes":"1E 05 02 1A 00 01 6B 4E","kind":"event",)"
            R"("checksum_ok":true,"object":27,"type":"01","payload":"6B","event":"E302/E311",)"
            R"("reply":"short","reply_bytes":"06 06 06","reply_delay_ms":5})");
  EXPECT_EQ(FormatRecord(OutputFormat::kJson, garbage),
            R"({"time":"10:11:12.014","bytes":"FF 00","kind":"garbage","checksum_ok":null,)"
            R"("object":null,"type":null,"payload":null,"event":null,"reply":null,)"
            R"("reply_bytes":null,"reply_delay_ms":null})");
  EXPECT_EQ(FormatRecord(OutputFormat::kJson, link_test),
            R"({"time":"10:11:12.015","bytes":"1E 01 01 24","kind":"link test",)"
            R"("checksum_ok":true,"object":null,"type":null,"payload":null,"event":null,)"
            R"("reply":"none","reply_bytes":"","reply_delay_ms":0})");

  EXPECT_EQ(FormatRecord(OutputFormat::kTsv, frame),
            "10:11:12.013\t1E 05 02 1A 00 01 6B 4E\tok\tevent\t0027\t01\t6B\tE302/E311\tshort\t"
            "06 06 06\t5");
  EXPECT_EQ(FormatRecord(OutputFormat::kTsv, garbage),
            "10:11:12.014\tFF 00\t\tgarbage\t\t\t\t\t\t\t");
  const std::string header = TsvHeader();
  const std::string record = FormatRecord(OutputFormat::kTsv, frame);
  EXPECT_EQ(std::count(header.begin(), header.end(), '\t'),
            std::count(record.begin(), record.end(), '\t'));
}

}  // namespace
}  // namespace gateway::console_sim
