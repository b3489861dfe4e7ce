#include "communicator-sim/line_mix.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <stdexcept>

namespace gateway {
namespace {

using ::testing::ElementsAre;

LineMix TwoByTwo() {
  LineMix mix;
  mix.accounts = {"1234", "0427"};
  mix.events = {ParseMixEvent("E130:005"), ParseMixEvent("R401:003:02")};
  return mix;
}

TEST(CombinedLines, SendsEveryAccountWithEveryEventThenRepeatsOrCuts) {
  EXPECT_THAT(CombinedLines(TwoByTwo(), 0),
              ElementsAre("5010 181234E13001005\x14", "5010 181234R40102003\x14",
                          "5010 180427E13001005\x14", "5010 180427R40102003\x14"));
  const auto repeated = CombinedLines(TwoByTwo(), 6);
  ASSERT_EQ(6u, repeated.size());
  EXPECT_EQ(repeated[0], repeated[4]);
  EXPECT_EQ(repeated[1], repeated[5]);
  EXPECT_THAT(CombinedLines(TwoByTwo(), 1), ElementsAre("5010 181234E13001005\x14"));

  LineMix no_events = TwoByTwo();
  no_events.events.clear();
  EXPECT_THROW(CombinedLines(no_events, 0), std::invalid_argument);
}

TEST(CombinedLines, UsesTheMixLineDigitReceiverAndTerminator) {
  LineMix mix = TwoByTwo();
  mix.base.line_digit = '1';
  mix.base.receiver = "09";
  mix.base.terminator = '\r';
  EXPECT_EQ("5091 181234E13001005\r", CombinedLines(mix, 1).front());
}

TEST(RandomLines, DrawFromTheMixAndRepeatWithTheSeed) {
  const auto lines = RandomLines(TwoByTwo(), 200, 7);
  ASSERT_EQ(200u, lines.size());
  const auto all = CombinedLines(TwoByTwo(), 0);
  const std::set<std::string> drawn(lines.begin(), lines.end());
  EXPECT_EQ(std::set<std::string>(all.begin(), all.end()), drawn) << "all four, nothing else";
  EXPECT_EQ(lines, RandomLines(TwoByTwo(), 200, 7));
  EXPECT_NE(lines, RandomLines(TwoByTwo(), 200, 8));
}

TEST(RandomLines, WithoutListsMakeWellFormedLinesFromTheBuiltInCodes) {
  const std::set<std::string> codes(std::begin(kRandomCodes), std::end(kRandomCodes));
  for (const std::string& line : RandomLines(LineMix{}, 300, 1)) {
    ASSERT_EQ(21u, line.size()) << line;
    EXPECT_EQ("5010 18", line.substr(0, 7));
    const int account = std::stoi(line.substr(7, 4));
    EXPECT_TRUE(account >= 1 && account <= 9999) << line;
    EXPECT_EQ(1u, codes.count(line.substr(11, 4))) << line;
    const int zone = std::stoi(line.substr(17, 3));
    EXPECT_TRUE(zone >= 1 && zone <= 32) << line;
  }
}

TEST(ReadLineFile, TakesOneLinePerLineWithoutLineEndsAndDecodesEscapes) {
  const std::string path = ::testing::TempDir() + "communicator_sim_lines.txt";
  {
    std::ofstream file(path, std::ios::binary);
    file << "5010 181234E13001005\\x14\r\n\n5010 180427E13001005\\x14\nlast-without-end";
  }
  EXPECT_THAT(ReadLineFile(path), ElementsAre("5010 181234E13001005\x14",
                                              "5010 180427E13001005\x14", "last-without-end"));
  std::remove(path.c_str());
  EXPECT_THROW(ReadLineFile(path), std::runtime_error);
}

}  // namespace
}  // namespace gateway
