// The frame tool for integrators: translates receiver lines, builds the operator's test frame and
// works out checksums exactly as the gateway does, from the command line.
#pragma once

#include <iosfwd>
#include <span>
#include <string>

namespace gateway {

// Exit statuses of the frame tool.
inline constexpr int kFrameToolOk = 0;
inline constexpr int kFrameToolFailed = 1;  // a test frame or checksum that cannot be read
inline constexpr int kFrameToolUsage = 2;

// Runs one command; `args` are the words after the program name. Results go to `out`, the usage
// text of a usage error to `err`. Returns the exit status.
int RunFrameTool(std::span<const std::string> args, std::istream& in, std::ostream& out,
                 std::ostream& err);

}  // namespace gateway
