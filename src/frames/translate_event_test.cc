#include "frames/translate_event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "frames/bytes.h"
#include "frames/conversion_error.h"
#include "frames/frame_checksum.h"

namespace gateway {
namespace {

// Records every reset so that tests can tell what was reset, and that it happened even when
// the translation failed afterwards.
class RecordingReset : public CounterReset {
 public:
  void ResetCounter(std::string_view account) override { accounts.emplace_back(account); }
  std::vector<std::string> accounts;
};

// Safe to share between threads; the concurrency test only counts.
class CountingReset : public CounterReset {
 public:
  void ResetCounter(std::string_view) override { ++count; }
  std::atomic<int> count = 0;
};

// A receiver line from its fields: receiver 01, the digits 18, and DC4 as the final character.
std::string Line(char line_digit, std::string_view account, std::string_view code,
                 std::string_view group, std::string_view zone_or_user) {
  std::string text = "501";
  text += line_digit;
  text += " 18";
  text.append(account).append(code).append(group).append(zone_or_user);
  text += '\x14';
  return text;
}

std::string Translated(const std::string& message) {
  RecordingReset reset;
  return HexPairs(TranslateEvent(message, reset));
}

// The bytes between the type byte and the checksum.
std::string PayloadOf(const ConsoleFrame& frame) {
  return HexPairs(std::span(frame).subspan(6, frame.size() - 7));
}

struct Translation {
  char line_digit;
  std::string account;
  std::string code;
  std::string group;
  std::string zone_or_user;
  std::string frame;
};

TEST(TranslateEvent, GivesTheWorkedFrames) {
  const Translation cases[] = {
      {'0', "1234", "E130", "01", "005", "1E 06 02 D1 04 01 50 14 B0"},
      {'0', "1234", "R130", "01", "037", "1E 06 02 D1 04 01 5A 14 57"},
      {'0', "1234", "E401", "02", "003", "1E 08 02 D1 04 01 08 12 48 11 97"},
      {'0', "1234", "R401", "02", "020", "1E 08 02 D1 04 01 08 23 40 11 94"},
      {'0', "1234", "E305", "01", "000", "1E 06 02 D1 04 01 3F 10 93"},
      {'0', "0027", "E302", "01", "000", "1E 05 02 1A 00 01 6B 4E"},
      {'1', "1234", "E130", "01", "007", "1E 05 02 D1 04 03 4E F0"},
      {'1', "1234", "E401", "01", "002", "1E 07 02 D1 04 03 02 29 70 1E"},
      {'1', "1234", "R401", "01", "002", "1E 07 02 D1 04 03 02 29 78 DC"},
      {'1', "1234", "E301", "01", "001", "1E 05 02 D1 04 03 68 0E"},
      {'1', "1234", "E110", "01", "001", "1E 04 02 D1 04 03 3B"},
      {'2', "1234", "E130", "01", "001", "1E 04 02 D1 04 01 87"},
      {'0', "1234", "E999", "01", "001", "1E 04 02 D1 04 01 87"},
      {'0', "0000", "E130", "00", "000", "1E 06 02 00 00 01 50 10 4C"},
      {'0', "0001", "E376", "01", "001", "1E 06 02 00 00 01 51 10 88"},
      {'0', "0001", "E373", "01", "065", "1E 06 02 00 00 01 7C 10 C0"},
      {'0', "1234", "E400", "00", "000", "1E 08 02 D1 04 01 08 10 48 10 86"},
      {'0', "1234", "E409", "17", "017", "1E 08 02 D1 04 01 08 20 48 10 58"},
      {'0', "1234", "R406", "16", "048", "1E 08 02 D1 04 01 08 3F 40 1F 7A"},
      // Zones beyond 160 go on with the banks: bank 31 on base 0x50.
      {'0', "1234", "E130", "01", "999", "1E 06 02 D1 04 01 8E 16 88"},
      {'1', "1234", "R401", "99", "099", "1E 07 02 D1 04 03 02 8A DA 74"},
      {'7', "1234", "E301", "01", "001", "1E 05 02 D1 04 01 68 9F"},
  };
  for (const Translation& c : cases) {
    const std::string message = Line(c.line_digit, c.account, c.code, c.group, c.zone_or_user);
    EXPECT_EQ(c.frame, Translated(message)) << message;
  }
}

// Every code of the vocabulary, and no other, gives a payload on each kind of line digit. The
// fields are group 02 and zone 037 (user 37), which lands in the second zone bank.
TEST(TranslateEvent, KnowsExactlyTheVocabularyOfEachLineDigit) {
  const std::map<std::string, std::string> table_a = {
      {"E301", "68"}, {"R301", "69"}, {"E302", "6B"}, {"R302", "6A"},
      {"E311", "6B"}, {"R311", "6A"}, {"E137", "6C"}, {"R137", "6D"},
      {"E144", "6C"}, {"R144", "6D"}, {"E461", "6E"},
  };
  const std::pair<std::string, std::string> line_zero_groups[] = {
      {"E305 R305", "3F 10"},
      {"E611 R611", "3F 11"},
      {"E627 R627", "3F 14"},
      {"E110 E111 E114 E115 E120 E121 E122 E123 E130 E134 E135 E150 E154 E162", "52 14"},
      {"R110 R111 R114 R115 R120 R121 R122 R123 R130 R134 R135 R150 R154 R162", "5A 14"},
      {"R309 R373 R376 R380 R381 R384 R389 R393 R571", "5A 14"},
      {"E309 E373 E380 E381 E384 E389 E393", "7A 14"},
      {"E376 E571", "53 14"},
      {"E145", "32 14"},
      {"R145", "34 14"},
      {"E400 E401 E406 E409", "08 34 48 11"},
      {"R400 R401 R406 R409", "08 34 40 11"},
  };
  const std::map<std::string, std::string> table_e = {
      {"E130", "6C"}, {"R130", "7C"}, {"E373", "64"},       {"R373", "7C"},
      {"E376", "64"}, {"R376", "7C"}, {"E401", "02 4C 71"}, {"R401", "02 4C 79"},
  };

  std::map<std::string, std::string> line_zero = table_a;
  for (const auto& [codes, payload] : line_zero_groups) {
    for (std::size_t at = 0; at < codes.size(); at += 5) {
      ASSERT_TRUE(line_zero.emplace(codes.substr(at, 4), payload).second) << codes.substr(at, 4);
    }
  }
  ASSERT_EQ(73u, line_zero.size());
  std::map<std::string, std::string> line_one = table_a;
  line_one.insert(table_e.begin(), table_e.end());

  struct LineCase {
    char digit;
    std::uint8_t type;
    const std::map<std::string, std::string>& payloads;
  };
  const LineCase lines[] = {
      {'0', kTypeEvent, line_zero}, {'1', kTypeLineOne, line_one}, {'2', kTypeEvent, table_a},
      {'9', kTypeEvent, table_a},   {' ', kTypeEvent, table_a},    {'E', kTypeEvent, table_a},
  };
  for (const LineCase& line : lines) {
    for (const char qualifier : {'E', 'R', 'e', 'r', 'X'}) {
      for (int number = 0; number < 1000; ++number) {
        std::string code(1, qualifier);
        code += static_cast<char>('0' + number / 100);
        code += static_cast<char>('0' + number / 10 % 10);
        code += static_cast<char>('0' + number % 10);
        RecordingReset reset;
        const ConsoleFrame frame =
            TranslateEvent(Line(line.digit, "1234", code, "02", "037"), reset);
        const auto expected = line.payloads.find(code);
        const std::string payload = expected == line.payloads.end() ? "" : expected->second;
        ASSERT_EQ(payload, PayloadOf(frame)) << "line '" << line.digit << "' code " << code;
        ASSERT_EQ(line.type, frame[5]) << "line '" << line.digit << "' code " << code;
        ASSERT_EQ(frame.size() - 3, frame[1]) << code;
        ASSERT_EQ(0, ChecksumOf(frame)) << code;
      }
    }
  }
}

TEST(TranslateEvent, DifferentEventsCanShareAPayload) {
  EXPECT_EQ(Translated(Line('0', "1234", "E130", "01", "129")),
            Translated(Line('0', "1234", "R130", "01", "001")));
  EXPECT_EQ("1E 06 02 D1 04 01 58 10 A7", Translated(Line('0', "1234", "R130", "01", "001")));
  EXPECT_EQ(Translated(Line('0', "1234", "E145", "01", "033")),
            Translated(Line('0', "1234", "R145", "01", "001")));
  RecordingReset reset;
  EXPECT_EQ("32 10", PayloadOf(TranslateEvent(Line('0', "1234", "R145", "01", "001"), reset)));
}

TEST(TranslateEvent, EncodesOpeningUsersAndGroupsByBank) {
  struct Case {
    std::string group;
    std::string user_field;
    std::string payload;
  };
  const Case cases[] = {
      {"01", "000", "08 10 48 10"},
      {"01", "001", "08 10 48 10"},
      {"01", "016", "08 1F 48 10"},
      {"01", "017", "08 20 48 10"},
      {"01", "048", "08 3F 48 10"},
      {"01", "049", "08 20 48 10"},
      {"01", "080", "08 3F 48 10"},
      {"01", "081", "08 60 48 10"},
      {"01", "099", "08 72 48 10"},
      // Only the last two digits of the field are the user.
      {"01", "105", "08 14 48 10"},
      {"01", "X05", "08 14 48 10"},
      {"00", "001", "08 10 48 10"},
      {"16", "001", "08 10 48 1F"},
      {"17", "001", "08 10 48 10"},
      {"33", "001", "08 10 48 30"},
      {"99", "001", "08 10 48 72"},
  };
  for (const Case& c : cases) {
    RecordingReset reset;
    const ConsoleFrame frame =
        TranslateEvent(Line('0', "1234", "E401", c.group, c.user_field), reset);
    EXPECT_EQ(c.payload, PayloadOf(frame)) << "group " << c.group << " user " << c.user_field;
  }
}

TEST(TranslateEvent, LineOneSumsUseTheFieldsUnadjusted) {
  struct Case {
    std::string code;
    std::string group;
    std::string user_field;
    std::string payload;
  };
  const Case cases[] = {
      {"E130", "01", "000", "47"},
      {"R376", "01", "099", "BA"},
      {"E401", "00", "000", "02 27 6F"},
      {"R401", "99", "199", "02 8A DA"},
  };
  for (const Case& c : cases) {
    RecordingReset reset;
    const ConsoleFrame frame =
        TranslateEvent(Line('1', "1234", c.code, c.group, c.user_field), reset);
    EXPECT_EQ(c.payload, PayloadOf(frame)) << c.code;
  }
}

TEST(EncodeZone, CountsBanksOfThirtyTwoZones) {
  struct Case {
    int zone;
    std::uint8_t base;
    std::array<std::uint8_t, 2> bytes;
  };
  const Case cases[] = {
      {0, 0x50, {0x50, 0x10}},   {1, 0x50, {0x50, 0x10}},   {5, 0x50, {0x50, 0x14}},
      {32, 0x50, {0x50, 0x2F}},  {33, 0x50, {0x52, 0x10}},  {37, 0x50, {0x52, 0x14}},
      {64, 0x50, {0x52, 0x2F}},  {65, 0x50, {0x54, 0x10}},  {97, 0x50, {0x56, 0x10}},
      {129, 0x50, {0x58, 0x10}}, {160, 0x50, {0x58, 0x2F}}, {161, 0x50, {0x5A, 0x10}},
      {999, 0x50, {0x8E, 0x16}}, {65, 0x78, {0x7C, 0x10}},  {33, 0xFE, {0x00, 0x10}},
      {999, 0xF8, {0x36, 0x16}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.bytes, EncodeZone(c.zone, c.base)) << "zone " << c.zone << " base " << +c.base;
  }
}

TEST(TranslateEvent, ResetsTheAccountAsTextOnceForEveryMessage) {
  const std::string messages[] = {
      Line('0', "1234", "E130", "01", "005"),
      Line('0', "1234", "E999", "01", "005"),
      Line('3', "1234", "E130", "01", "005"),
  };
  for (const std::string& message : messages) {
    RecordingReset reset;
    TranslateEvent(message, reset);
    EXPECT_EQ(std::vector<std::string>{"1234"}, reset.accounts) << message;
  }
  RecordingReset reset;
  TranslateEvent(Line('0', "0000", "E130", "01", "005"), reset);
  EXPECT_EQ(std::vector<std::string>{"0000"}, reset.accounts);
}

TEST(TranslateEvent, ReadsOnlyTheFieldsThatTheCodeNeeds) {
  const Translation cases[] = {
      {'0', "1234", "E130", "??", "005", "1E 06 02 D1 04 01 50 14 B0"},
      {'0', "1234", "E401", "02", "-03", "1E 08 02 D1 04 01 08 12 48 11 97"},
      {'0', "1234", "E305", "??", "???", "1E 06 02 D1 04 01 3F 10 93"},
      {'0', "1234", "E301", "??", "???", "1E 05 02 D1 04 01 68 9F"},
      {'0', "1234", "E999", "??", "???", "1E 04 02 D1 04 01 87"},
      {'1', "1234", "E130", "??", "007", "1E 05 02 D1 04 03 4E F0"},
      {'1', "1234", "E110", "??", "???", "1E 04 02 D1 04 03 3B"},
      {'2', "1234", "E401", "??", "???", "1E 04 02 D1 04 01 87"},
  };
  for (const Translation& c : cases) {
    const std::string message = Line(c.line_digit, c.account, c.code, c.group, c.zone_or_user);
    EXPECT_EQ(c.frame, Translated(message)) << message;
  }
}

TEST(TranslateEvent, FieldThatIsNotDecimalFailsAfterTheReset) {
  struct Case {
    std::string message;
    std::string account;
    std::string error;
  };
  const Case cases[] = {
      {Line('0', "12A4", "E130", "01", "005"), "12A4", "'12A4' is not a valid integer value"},
      {Line('0', " 123", "E999", "01", "005"), " 123", "' 123' is not a valid integer value"},
      {Line('2', "+123", "E301", "01", "005"), "+123", "'+123' is not a valid integer value"},
      {Line('0', "-123", "E130", "01", "005"), "-123", "'-123' is not a valid integer value"},
      {Line('0', "1234", "E130", "01", " 05"), "1234", "' 05' is not a valid integer value"},
      {Line('0', "1234", "R571", "01", "+05"), "1234", "'+05' is not a valid integer value"},
      {Line('0', "1234", "E401", "01", "0-5"), "1234", "'-5' is not a valid integer value"},
      {Line('0', "1234", "R409", " 1", "005"), "1234", "' 1' is not a valid integer value"},
      {Line('1', "1234", "E130", "01", "0 7"), "1234", "' 7' is not a valid integer value"},
      {Line('1', "1234", "R401", "0x", "002"), "1234", "'0x' is not a valid integer value"},
      // A text cut short has an empty account.
      {"5010 18", "", "'' is not a valid integer value"},
  };
  for (const Case& c : cases) {
    RecordingReset reset;
    try {
      TranslateEvent(c.message, reset);
      ADD_FAILURE() << "no error for " << c.message;
    } catch (const ConversionError& error) {
      EXPECT_EQ(c.error, error.what()) << c.message;
    }
    EXPECT_EQ(std::vector<std::string>{c.account}, reset.accounts) << c.message;
  }
}

// Every build keeps its own running checksum, so frames built at the same time on several
// threads each come out as they do alone.
TEST(TranslateEvent, ConcurrentBuildsKeepTheirOwnChecksums) {
  const std::vector<std::string> messages = {
      Line('0', "1234", "E130", "01", "005"), Line('0', "1234", "R401", "02", "020"),
      Line('1', "1234", "E401", "01", "002"), Line('0', "0027", "E302", "01", "000"),
      Line('0', "9999", "E145", "07", "150"), Line('2', "0500", "E999", "01", "001"),
  };
  std::vector<ConsoleFrame> expected;
  for (const std::string& message : messages) {
    RecordingReset reset;
    expected.push_back(TranslateEvent(message, reset));
  }
  const ConsoleFrame expected_fault = FaultFrame(27);
  const ConsoleFrame expected_test = TestFrameFromHex("1E06021A00015214");

  constexpr int kThreads = 4;
  constexpr int kRounds = 2000;
  CountingReset reset;
  std::atomic<int> mismatches = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < kRounds; ++round) {
        const std::size_t index = (round + t) % messages.size();
        if (TranslateEvent(messages[index], reset) != expected[index]) ++mismatches;
        if (FaultFrame(27) != expected_fault) ++mismatches;
        if (TestFrameFromHex("1E06021A00015214") != expected_test) ++mismatches;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(0, mismatches.load());
  EXPECT_EQ(kThreads * kRounds, reset.count.load());
}

}  // namespace
}  // namespace gateway
