// The machine's serial ports as the operator picks them: device-backed ttys and the links in
// the device folder that lead to pseudo-terminals (virtual ports).
#pragma once

#include <string>
#include <vector>

namespace gateway {

struct PortListRoots {
  std::string sys_class_tty = "/sys/class/tty";
  std::string dev = "/dev";
};

// Port names sorted as text without regard to case ("ttyS10" before "ttyS2"). Throws
// PortError(kErrPortList) when the folders cannot be read.
std::vector<std::string> ListSerialPorts(const PortListRoots& roots = {});

}  // namespace gateway
