#include "frame-tool/frame_tool.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace gateway {
namespace {

struct ToolRun {
  int status;
  std::string out;
  std::string err;
};

ToolRun RunTool(std::vector<std::string> args, const std::string& input = "") {
  std::istringstream in(input);
  std::ostringstream out;
  std::ostringstream err;
  const int status = RunFrameTool(args, in, out, err);
  return {status, out.str(), err.str()};
}

TEST(FrameToolTranslate, PrintsOneResultPerInputLine) {
  const std::string input =
      "5010 181234E13001005\x14\n"      // alarm, zone 5
      "5011 181234E40101002\x14\r\n"    // line '1' opening; "\r\n" ends the line
      "5010 181234E99901001\x14\n"      // no payload: printed all the same
      "5010 1812A4E13001005\x14\n"      // account with a letter
      "5010 181234E13001005\n"          // 20 characters
      "4010 181234E13001005\x14\n"      // wrong marker
      "5010 181234E13001005 \n"         // a blank 21st character stays
      "5010 181234E13001005\x14\r\r\n"  // only one "\r" goes
      "\n"                              // an empty buffer
      "5010 181234R13001037\x14";       // last line without "\n"
  const ToolRun run = RunTool({"translate"}, input);
  EXPECT_EQ(0, run.status);
  EXPECT_EQ(
      "1E 06 02 D1 04 01 50 14 B0\n"
      "1E 07 02 D1 04 03 02 29 70 1E\n"
      "1E 04 02 D1 04 01 87\n"
      "error: '12A4' is not a valid integer value\n"
      "rejected\n"
      "rejected\n"
      "1E 06 02 D1 04 01 50 14 B0\n"
      "rejected\n"
      "rejected\n"
      "1E 06 02 D1 04 01 5A 14 57\n",
      run.out);
  EXPECT_EQ("", run.err);
}

TEST(FrameToolTranslate, KeepsACarriageReturnThatEndsTheInput) {
  // Without a "\n" the "\r" is the buffer's own 21st character.
  EXPECT_EQ("1E 06 02 D1 04 01 50 14 B0\n", RunTool({"translate"}, "5010 181234E13001005\r").out);
  EXPECT_EQ("", RunTool({"translate"}, "").out);
}

TEST(FrameTool, PrintsTestFramesAndChecksums) {
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string out;
  };
  const Case cases[] = {
      {{"test-frame", "1E06021A00015214"}, 0, "1E 06 02 1A 00 01 52 14 7D\n"},
      {{"test-frame", "1e06021a00015214"}, 0, "1E 06 02 1A 00 01 52 14 7D\n"},
      {{"test-frame", ""}, 0, "00\n"},
      {{"test-frame", "1E06021A000152147"}, 0, "1E 06 02 1A 00 01 52 14 7D\n"},
      {{"test-frame", "1E06021A0001521G"}, 1, "error: '1G' is not a valid integer value\n"},
      {{"checksum", "1E", "01", "01"}, 0, "24\n"},
      {{"checksum", "1E0103"}, 0, "98\n"},
      {{"checksum", " 1E 06\t021A", "00015214 "}, 0, "7D\n"},
      {{"checksum", "313233343536373839"}, 0, "A1\n"},
      {{"checksum", "1E06021A000152147D"}, 0, "00\n"},
      {{"checksum", "1E", "010"}, 1, "error: '010' is not a valid integer value\n"},
      {{"checksum", "1E", "0x"}, 1, "error: '0x' is not a valid integer value\n"},
  };
  for (const Case& c : cases) {
    const ToolRun run = RunTool(c.args);
    EXPECT_EQ(c.status, run.status) << c.args.back();
    EXPECT_EQ(c.out, run.out) << c.args.back();
    EXPECT_EQ("", run.err) << c.args.back();
  }
}

TEST(FrameTool, UsageErrorsPrintTheUsageToStandardError) {
  const std::vector<std::string> cases[] = {
      {},
      {"frames"},
      {"translate", "extra"},
      {"test-frame"},
      {"test-frame", "1E", "01"},
      {"checksum"},
      {"--help", "translate"},
  };
  for (const std::vector<std::string>& args : cases) {
    const ToolRun run = RunTool(args, "5010 181234E13001005\x14\n");
    EXPECT_EQ(2, run.status) << ::testing::PrintToString(args);
    EXPECT_EQ("", run.out) << ::testing::PrintToString(args);
    EXPECT_EQ(0u, run.err.find("Usage: frame-tool COMMAND")) << ::testing::PrintToString(args);
  }
}

TEST(FrameTool, HelpGoesToStandardOutput) {
  const ToolRun run = RunTool({"--help"});
  EXPECT_EQ(0, run.status);
  EXPECT_EQ(0u, run.out.find("Usage: frame-tool COMMAND"));
  EXPECT_NE(std::string::npos, run.out.find("checksum HEX..."));
  EXPECT_EQ("", run.err);
}

}  // namespace
}  // namespace gateway
