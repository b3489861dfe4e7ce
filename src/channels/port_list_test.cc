#include "channels/port_list.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "channels/port_error.h"
#include "fixtures/pty_pair.h"
#include "fixtures/temp_dir.h"

namespace gateway {
namespace {

namespace fs = std::filesystem;

// A tty entry as the kernel shows it under /sys/class/tty.
void AddTty(const fs::path& sys, const std::string& name, const std::string& driver,
            const std::string& type) {
  const fs::path entry = sys / name;
  fs::create_directories(entry);
  if (!driver.empty()) {
    fs::create_directories(entry / "device");
    fs::create_directory_symlink("../../../bus/platform/drivers/" + driver,
                                 entry / "device" / "driver");
  }
  if (!type.empty()) std::ofstream(entry / "type") << type << "\n";
}

TEST(PortListTest, ListsDeviceBackedTtysAndLinksToPseudoTerminalsSortedWithoutCase) {
  TempDir root;
  const fs::path sys = root / "sys";
  const fs::path dev = root / "dev";
  fs::create_directories(sys);
  fs::create_directories(dev);
  AddTty(sys, "ttyS0", "serial8250", "4");  // a real 16550A
  AddTty(sys, "ttyS1", "serial8250", "0");  // placeholder without a UART: skipped
  AddTty(sys, "ttyS2", "serial8250", "4");
  AddTty(sys, "ttyS10", "serial8250", "4");
  AddTty(sys, "ttyUSB0", "ftdi_sio", "");
  AddTty(sys, "ttyACM0", "cdc_acm", "0");  // type 0 matters for the 8250 driver only
  AddTty(sys, "tty0", "", "");             // a virtual console: no device
  AddTty(sys, "console", "", "");

  PtyPair live;
  fs::create_symlink(live.SlavePath(), dev / "ttyV0");
  fs::create_symlink(live.SlavePath(), dev / "Vcom");    // sorts after "ttyV0" ignoring case
  fs::create_symlink("/dev/pts/999999", dev / "ttyV9");  // its pseudo-terminal has gone
  fs::create_symlink("pts/ptmx", dev / "ptmx");
  fs::create_symlink("/dev/null", dev / "nothing");
  fs::create_symlink("/proc/self/fd", dev / "fd");
  std::ofstream(dev / "ttyPlain") << "";

  EXPECT_EQ(ListSerialPorts({sys.string(), dev.string()}),
            (std::vector<std::string>{"ttyACM0", "ttyS0", "ttyS10", "ttyS2", "ttyUSB0", "ttyV0",
                                      "Vcom"}));
}

TEST(PortListTest, UnreadableFolderIsAnError) {
  TempDir root;
  fs::create_directories(root / "present");
  for (const auto& [sys, dev] :
       {std::pair{"missing", "present"}, std::pair{"present", "missing"}}) {
    SCOPED_TRACE(std::string(sys) + " " + dev);
    try {
      ListSerialPorts({(root / sys).string(), (root / dev).string()});
      ADD_FAILURE() << "no error";
    } catch (const PortError& e) {
      EXPECT_STREQ(e.what(), kErrPortList);
    }
  }
}

TEST(PortListTest, ThisMachinesFoldersCanBeRead) { EXPECT_NO_THROW(ListSerialPorts()); }

}  // namespace
}  // namespace gateway
