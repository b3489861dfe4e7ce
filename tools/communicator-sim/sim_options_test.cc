#include "communicator-sim/sim_options.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace gateway {
namespace {

using ::testing::ElementsAre;

TEST(ParseOptions, DefaultsToTheGatewayOnThisMachine) {
  const SimOptions options = ParseOptions({"5010 181234E13001005\\x14"});
  EXPECT_EQ("127.0.0.1", options.host);
  EXPECT_EQ(5551, options.port);
  EXPECT_EQ(std::chrono::milliseconds(1000), options.timeout);
  EXPECT_FALSE(options.load);
  EXPECT_FALSE(options.machine);
  EXPECT_THAT(options.lines, ElementsAre("5010 181234E13001005\x14"));
}

TEST(ParseOptions, ReadsEveryOptionInBothSpellings) {
  const SimOptions options = ParseOptions({"--host",
                                           "gateway.local",
                                           "--port=6000",
                                           "--timeout",
                                           "250",
                                           "--accounts",
                                           "1234,27",
                                           "--events=E130:5,R401:003:02",
                                           "--count",
                                           "8",
                                           "--random",
                                           "--seed",
                                           "42",
                                           "--line-digit",
                                           "1",
                                           "--receiver",
                                           "3",
                                           "--terminator",
                                           "0d",
                                           "--interval",
                                           "20",
                                           "--load",
                                           "--connections",
                                           "50",
                                           "--rate",
                                           "12.5",
                                           "--duration",
                                           "1.5",
                                           "--machine",
                                           "--file",
                                           "lines.txt"});
  EXPECT_EQ("gateway.local", options.host);
  EXPECT_EQ(6000, options.port);
  EXPECT_EQ(std::chrono::milliseconds(250), options.timeout);
  EXPECT_THAT(options.mix.accounts, ElementsAre("1234", "0027"));
  ASSERT_EQ(2u, options.mix.events.size());
  EXPECT_EQ("005", options.mix.events[0].zone);
  EXPECT_EQ("02", options.mix.events[1].group);
  EXPECT_EQ(8u, options.count);
  EXPECT_TRUE(options.random);
  EXPECT_EQ(42u, options.seed);
  EXPECT_EQ('1', options.mix.base.line_digit);
  EXPECT_EQ("03", options.mix.base.receiver);
  EXPECT_EQ('\r', options.mix.base.terminator);
  EXPECT_EQ(std::chrono::milliseconds(20), options.interval);
  EXPECT_TRUE(options.load);
  EXPECT_EQ(50, options.load_plan.connections);
  EXPECT_DOUBLE_EQ(12.5, options.load_plan.rate);
  EXPECT_EQ(std::chrono::milliseconds(1500), options.load_plan.duration);
  EXPECT_EQ(std::chrono::milliseconds(250), options.load_plan.timeout);
  EXPECT_TRUE(options.machine);
  EXPECT_EQ("lines.txt", options.file);
}

TEST(ParseOptions, RefusesBadValuesNamingTheOption) {
  struct Case {
    std::vector<std::string> arguments;
    std::string message;
  };
  const Case cases[] = {
      {{"--port", "0"}, "--port wants a number from 1 to 65535, not \"0\""},
      {{"--port", "5551x"}, "--port wants a number from 1 to 65535, not \"5551x\""},
      {{"--timeout"}, "--timeout wants a value"},
      {{"--rate", "0"}, "--rate wants a number above 0, not \"0\""},
      {{"--duration", "soon"}, "--duration wants a number above 0, not \"soon\""},
      {{"--terminator", "x"}, "--terminator wants two hexadecimal digits, not \"x\""},
      {{"--line-digit", "10"}, "--line-digit wants one character, not \"10\""},
      {{"--accounts", "12345"}, "account \"12345\" is not 4 characters"},
      {{"--events", "E130"},
       "event \"E130\" is not CODE:ZONE[:GROUP], such as E130:005 or R401:003:02"},
      {{"--load=yes"}, "--load takes no value"},
      {{"--lines"}, "unknown option --lines (see --help)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments.front());
    try {
      ParseOptions(c.arguments);
      ADD_FAILURE() << "accepted";
    } catch (const UsageError& error) {
      EXPECT_EQ(c.message, error.what());
    }
  }
}

TEST(CollectLines, PutsArgumentsBeforeGeneratedLinesAndWantsSomething) {
  SimOptions options = ParseOptions({"first", "--accounts", "1234", "--events", "E130:005"});
  EXPECT_THAT(CollectLines(options), ElementsAre("first", "5010 181234E13001005\x14"));

  options = ParseOptions({"--random", "--seed", "3"});
  EXPECT_EQ(10u, CollectLines(options).size());

  options = ParseOptions({"--accounts", "1234"});
  EXPECT_THROW(CollectLines(options), UsageError);
  try {
    CollectLines(ParseOptions({"--machine"}));
    ADD_FAILURE() << "accepted";
  } catch (const UsageError& error) {
    EXPECT_STREQ("nothing to send: give lines, --file or a mix (see --help)", error.what());
  }
}

TEST(HelpText, DocumentsEveryOption) {
  const std::string help = HelpText();
  for (const char* option :
       {"--host", "--port", "--timeout", "--file", "--accounts", "--events", "--count", "--random",
        "--seed", "--line-digit", "--receiver", "--terminator", "--interval", "--load",
        "--connections", "--rate", "--duration", "--machine", "--help"}) {
    EXPECT_NE(std::string::npos, help.find(option)) << option;
  }
}

}  // namespace
}  // namespace gateway
