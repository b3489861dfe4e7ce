#include "console-sim/event_lookup.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "console-sim/frame_description.h"
#include "frames/translate_event.h"

namespace gateway::console_sim {
namespace {

using ::testing::Contains;
using ::testing::Each;
using ::testing::Field;

class NoObjects : public CounterReset {
 public:
  void ResetCounter(std::string_view) override {}
};

// The receiver line for an event, as a communicator sends it.
std::string Line(char line_digit, const std::string& code, int group, int zone) {
  char text[32];
  std::snprintf(text, sizeof text, "501%c 181234%s%02d%03d\x14", line_digit, code.c_str(), group,
                zone);
  return text;
}

TEST(LookupEventsTest, NamesEveryEventThatGivesTheBytes) {
  struct Case {
    std::uint8_t type;
    Bytes payload;
    std::string expected;
  };
  const Case cases[] = {
      {0x01, {0x68}, "E301"},
      {0x01, {0x6B}, "E302/E311"},
      {0x01, {0x6E}, "E461"},
      {0x01, {0x3F, 0x14}, "E627/R627"},
      {0x01, {0x51, 0x10}, "E376/E571 zone 1"},
      {0x01, {0x7C, 0x10}, "E309/E373/E380/E381/E384/E389/E393 zone 65"},
      {0x01, {0x32, 0x10}, "E145 zone 33 or R145 zone 1"},
      {0x01, {0x08, 0x12, 0x48, 0x11}, "E400/E401/E406/E409 user 3 group 2/18"},
      {0x01, {0x08, 0x3F, 0x40, 0x1F}, "R400/R401/R406/R409 user 48 group 16/32"},
      {0x01, {0x08, 0x20, 0x48, 0x30}, "E400/E401/E406/E409 user 17 group 33/49"},
      {0x03, {0x02, 0x29, 0x70}, "E401 user 2 group 1"},
      {0x03, {0x02, 0x29, 0x78}, "E401 user 2 group 9 or R401 user 2 group 1"},
      {0x03, {0x4E}, "E130 zone 7 or E373/E376 zone 15"},
      {0x03, {0x6B}, "E302/E311 or E130 zone 36 or R130/R373/R376 zone 20 or E373/E376 zone 44"},
      {0x01, {}, ""},
      {0x01, {0x99, 0x10}, ""},
      {0x01, {0x08, 0x40, 0x48, 0x10}, ""},  // no user of an opening gives 0x40
      {0x03, {0x3F, 0x10}, ""},              // Tables B and C are not taken on line 1
      {0x02, {0x68}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(HexPairs(c.payload));
    EXPECT_EQ(DescribeEvents(LookupEvents(c.type, c.payload)), c.expected);
  }
}

TEST(LookupEventsTest, SharedZoneBytesNameEveryReading) {
  // Zone 129 on base 0x50 gives the bytes of zone 1 on base 0x58.
  const std::vector<EventCandidate> candidates = LookupEvents(0x01, Bytes{0x58, 0x10});
  EXPECT_THAT(candidates, Contains(EventCandidate{"E130", "zone 129"}));
  EXPECT_THAT(candidates, Contains(EventCandidate{"R130", "zone 1"}));
  EXPECT_THAT(candidates, Contains(EventCandidate{"R571", "zone 1"}));
  EXPECT_EQ(candidates.size(), 14u + 14u + 9u);
  const std::vector<EventCandidate> zone_five = LookupEvents(0x01, Bytes{0x50, 0x14});
  EXPECT_THAT(zone_five, Contains(EventCandidate{"E130", "zone 5"}));
  EXPECT_THAT(zone_five, Each(Field(&EventCandidate::detail, "zone 5")));
}

// Every code of the gateway's tables, translated by the gateway itself, is found again among
// the readings of its bytes, and every reading given translates back to the same bytes.
TEST(LookupEventsTest, AgreesWithTheGatewaysTranslationBothWays) {
  const char* codes[] = {
      "E301", "R301", "E302", "R302", "E311", "R311", "E137", "R137", "E144", "R144", "E461",
      "E305", "R305", "E611", "R611", "E627", "R627", "E110", "E111", "E114", "E115", "E120",
      "E121", "E122", "E123", "E130", "E134", "E135", "E150", "E154", "E162", "R110", "R111",
      "R114", "R115", "R120", "R121", "R122", "R123", "R130", "R134", "R135", "R150", "R154",
      "R162", "R309", "R373", "R376", "R380", "R381", "R384", "R389", "R393", "R571", "E309",
      "E373", "E380", "E381", "E384", "E389", "E393", "E376", "E571", "E145", "R145", "E400",
      "E401", "E406", "E409", "R400", "R401", "R406", "R409"};
  NoObjects objects;
  int checked = 0;
  for (char line_digit : {'0', '1', '2'}) {
    for (const char* code : codes) {
      for (int group : {0, 1, 16, 17, 99}) {
        for (int zone : {0, 1, 5, 32, 33, 48, 99, 129, 160}) {
          const std::string message = Line(line_digit, code, group, zone);
          const FrameDescription d = DescribeFrame(TranslateEvent(message, objects));
          if (d.payload.empty()) continue;
          ++checked;
          const std::vector<EventCandidate> readings =
              LookupEvents(static_cast<std::uint8_t>(d.type), d.payload);
          bool found = false;
          for (const EventCandidate& reading : readings) {
            found = found || reading.code == code;
            // Back to a line: "zone Z" or "user U group G[/G2]" become the fields again.
            int reading_group = 1;
            int reading_zone = 1;
            int user = -1;
            std::sscanf(reading.detail.c_str(), "zone %d", &reading_zone);
            if (std::sscanf(reading.detail.c_str(), "user %d group %d", &user, &reading_group) ==
                2) {
              reading_zone = user;
            }
            const char reading_line = d.type == 0x03 ? '1' : line_digit;
            const FrameDescription back = DescribeFrame(TranslateEvent(
                Line(reading_line, reading.code, reading_group, reading_zone), objects));
            EXPECT_EQ(back.payload, d.payload)
                << message << " read as " << reading.code << " " << reading.detail;
          }
          // Users above 48 of openings are beyond what the tables define: only the way back
          // above is checked for them.
          const bool opening = code[1] == '4' && code[2] == '0' && line_digit == '0';
          if (opening && zone % 100 > 48) continue;
          EXPECT_TRUE(found) << message << " gives " << HexPairs(d.payload) << ": "
                             << DescribeEvents(readings);
        }
      }
    }
  }
  EXPECT_GT(checked, 1000);
}

}  // namespace
}  // namespace gateway::console_sim
