#include "channels/port_list.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <system_error>

#include "channels/port_error.h"

namespace gateway {
namespace {

namespace fs = std::filesystem;

bool LessIgnoringCase(std::string_view a, std::string_view b) {
  return std::lexicographical_compare(
      a.begin(), a.end(), b.begin(), b.end(),
      [](unsigned char x, unsigned char y) { return std::tolower(x) < std::tolower(y); });
}

// The 8250 driver registers a tty for every possible legacy UART; those without hardware
// behind them report the UART type 0 ("unknown") and would only confuse the operator.
bool IsPlaceholder8250(const fs::path& entry) {
  std::error_code ec;
  fs::path driver = fs::read_symlink(entry / "device" / "driver", ec);
  if (ec || driver.filename() != "serial8250") return false;
  std::ifstream type_file(entry / "type");
  int type = -1;
  return (type_file >> type) && type == 0;
}

// The entries of `folder`; throws PortError(kErrPortList) when it cannot be read.
std::vector<fs::directory_entry> EntriesOf(const fs::path& folder) {
  std::vector<fs::directory_entry> entries;
  std::error_code ec;
  fs::directory_iterator it(folder, ec);
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) entries.push_back(*it);
  if (ec) throw PortError(kErrPortList);
  return entries;
}

void AddDeviceBackedTtys(const fs::path& sys_class_tty, std::vector<std::string>& names) {
  for (const fs::directory_entry& entry : EntriesOf(sys_class_tty)) {
    const fs::path path = entry.path();
    std::error_code link_ec;
    if (!fs::exists(path / "device", link_ec)) continue;
    if (IsPlaceholder8250(path)) continue;
    names.push_back(path.filename().string());
  }
}

// Virtual ports appear as links such as /dev/ttyV0 -> /dev/pts/3.
void AddLinksToPseudoTerminals(const fs::path& dev, std::vector<std::string>& names) {
  for (const fs::directory_entry& entry : EntriesOf(dev)) {
    std::error_code link_ec;
    if (!entry.is_symlink(link_ec)) continue;
    fs::path target = fs::read_symlink(entry.path(), link_ec);
    if (link_ec) continue;
    if (target.is_relative()) target = entry.path().parent_path() / target;
    target = target.lexically_normal();
    const fs::path parent = target.parent_path();
    const std::string number = target.filename().string();
    if (parent.filename() != "pts" || number.empty() ||
        !std::all_of(number.begin(), number.end(),
                     [](unsigned char c) { return std::isdigit(c); })) {
      continue;
    }
    // A link left behind by a simulator that has ended leads nowhere; it is no port.
    if (!fs::exists(target, link_ec)) continue;
    names.push_back(entry.path().filename().string());
  }
}

}  // namespace

std::vector<std::string> ListSerialPorts(const PortListRoots& roots) {
  std::vector<std::string> names;
  AddDeviceBackedTtys(roots.sys_class_tty, names);
  AddLinksToPseudoTerminals(roots.dev, names);
  std::sort(names.begin(), names.end(), LessIgnoringCase);
  names.erase(std::unique(names.begin(), names.end()), names.end());
  return names;
}

}  // namespace gateway
