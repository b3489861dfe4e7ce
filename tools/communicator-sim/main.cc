// communicator-sim: sends receiver lines to the gateway as a GPRS communicator does and
// reports what came back (see --help).
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "communicator-sim/communicator_link.h"
#include "communicator-sim/sim_options.h"
#include "communicator-sim/sim_report.h"
#include "communicator-sim/sim_runner.h"

int main(int argc, char** argv) {
  using namespace gateway;
  SimOptions options;
  std::vector<std::string> lines;
  try {
    options = ParseOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (options.help) {
      std::fputs(HelpText().c_str(), stdout);
      return 0;
    }
    lines = CollectLines(options);
  } catch (const UsageError& error) {
    std::fprintf(stderr, "communicator-sim: %s\n", error.what());
    return 2;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "communicator-sim: %s\n", error.what());
    return 1;
  }
  try {
    const sockaddr_in gateway = ResolveGateway(options.host, options.port);
    RunResult result;
    if (options.load) {
      result = RunLoad(gateway, lines, options.load_plan);
    } else {
      result = RunSequence(gateway, lines, {options.timeout, options.interval},
                           [&](const Exchange& exchange) {
                             std::printf("%s\n", FormatExchange(exchange, options.machine).c_str());
                             std::fflush(stdout);
                           });
    }
    std::printf("%s\n", FormatSummary(result, options.machine).c_str());
  } catch (const std::exception& error) {
    std::fprintf(stderr, "communicator-sim: %s\n", error.what());
    return 1;
  }
  return 0;
}
