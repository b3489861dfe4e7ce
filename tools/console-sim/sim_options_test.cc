#include "console-sim/sim_options.h"

#include <gtest/gtest.h>

namespace gateway::console_sim {
namespace {

using std::chrono::milliseconds;

TEST(ParseOptionsTest, DefaultsLinkTtyV0AndAcknowledgeEveryFrameAtOnce) {
  const SimOptions options = ParseOptions({});
  EXPECT_EQ(options.link, "/dev/ttyV0");
  EXPECT_EQ(options.replies.kinds, std::vector<ReplyKind>{ReplyKind::kAck});
  EXPECT_FALSE(options.replies.random);
  EXPECT_EQ(options.replies.ack, (Bytes{0x06, 0x06, 0x06, 0x06}));
  EXPECT_EQ(options.replies.delay, milliseconds(0));
  EXPECT_EQ(options.format, OutputFormat::kText);
  EXPECT_EQ(options.frames, 0);
  EXPECT_FALSE(options.list_ports);
}

TEST(ParseOptionsTest, ReadsEveryOptionInBothSpellings) {
  const SimOptions options =
      ParseOptions({"--link=/tmp/x/ttyV3", "--reply", "ack,none,late", "--random", "--seed=9",
                    "--ack", "0a0B0c0D", "--delay=12", "--late", "400", "--idle=7", "--format=json",
                    "--frames", "3", "--seconds=60"});
  EXPECT_EQ(options.link, "/tmp/x/ttyV3");
  EXPECT_EQ(options.replies.kinds,
            (std::vector<ReplyKind>{ReplyKind::kAck, ReplyKind::kNone, ReplyKind::kLate}));
  EXPECT_TRUE(options.replies.random);
  EXPECT_EQ(options.replies.seed, 9u);
  EXPECT_EQ(options.replies.ack, (Bytes{0x0A, 0x0B, 0x0C, 0x0D}));
  EXPECT_EQ(options.replies.delay, milliseconds(12));
  EXPECT_EQ(options.replies.late_delay, milliseconds(400));
  EXPECT_EQ(options.idle, milliseconds(7));
  EXPECT_EQ(options.format, OutputFormat::kJson);
  EXPECT_EQ(options.frames, 3);
  EXPECT_EQ(options.seconds, 60);
  EXPECT_TRUE(ParseOptions({"--no-link"}).link.empty());
  EXPECT_EQ(ParseOptions({"--format=tsv"}).format, OutputFormat::kTsv);
  EXPECT_TRUE(ParseOptions({"--help"}).help);
  EXPECT_TRUE(ParseOptions({"--list-ports"}).list_ports);
}

TEST(ParseOptionsTest, BadArgumentsAreNamed) {
  struct Case {
    std::vector<std::string> arguments;
    std::string message_part;
  };
  const Case cases[] = {
      {{"--reply=ack,maybe"}, "\"maybe\""},
      {{"--reply="}, "\"\""},
      {{"--ack=060606"}, "--ack"},
      {{"--ack=0606060G"}, "--ack"},
      {{"--delay=-1"}, "--delay"},
      {{"--delay=5ms"}, "--delay"},
      {{"--frames=0"}, "--frames"},
      {{"--format=xml"}, "xml"},
      {{"--link="}, "--link"},
      {{"--frames"}, "--frames wants a value"},
      {{"--random=yes"}, "--random takes no value"},
      {{"--list-ports=1"}, "--list-ports takes no value"},
      {{"--colour"}, "\"--colour\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments.front());
    try {
      ParseOptions(c.arguments);
      ADD_FAILURE() << "accepted";
    } catch (const UsageError& e) {
      EXPECT_NE(std::string(e.what()).find(c.message_part), std::string::npos) << e.what();
    }
  }
}

TEST(HelpTextTest, DocumentsEveryOption) {
  const std::string help = HelpText();
  for (const char* option :
       {"--link", "--no-link", "--reply", "--random", "--seed", "--ack", "--delay", "--late",
        "--idle", "--format", "--frames", "--seconds", "--help", "--list-ports"}) {
    EXPECT_NE(help.find(option), std::string::npos) << option;
  }
}

}  // namespace
}  // namespace gateway::console_sim
