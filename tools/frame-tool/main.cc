// frame-tool: the gateway's frame building on the command line; see `frame-tool --help`.
#include <iostream>
#include <string>
#include <vector>

#include "frame-tool/frame_tool.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  return gateway::RunFrameTool(args, std::cin, std::cout, std::cerr);
}
