#include "e2e/gateway_process.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <thread>

#include "channels/port_list.h"

namespace gateway::e2e {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kAttempts = 3;

std::string ReadFile(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

void WriteFile(const fs::path& path, const std::string& text) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << text;
  if (!file) throw std::runtime_error("cannot write " + path.string());
}

std::string Joined(const std::vector<std::string>& items) {
  std::string text;
  for (const std::string& item : items) text += (text.empty() ? "" : ", ") + item;
  return text;
}

// The inode of a "socket:[123]" descriptor target; 0 for other targets.
unsigned long SocketInode(const std::string& target) {
  if (!target.starts_with("socket:[")) return 0;
  return std::stoul(target.substr(8));
}

}  // namespace

GatewayProcess::GatewayProcess(GatewayOptions options) : options_(std::move(options)) {
  fs::create_directories(folder_ / "config");
  fs::create_directories(folder_ / "work");
  fs::create_directories(folder_ / "runtime");
  fs::permissions(folder_ / "runtime", fs::perms::owner_all);
  std::vector<std::string> failures;
  for (int attempt = 1; attempt <= kAttempts; ++attempt) {
    std::string failure;
    if (StartOnce(failure)) return;
    failures.push_back("attempt " + std::to_string(attempt) + ": " + failure);
  }
  std::string text = "the gateway did not come up:";
  for (const std::string& failure : failures) text += "\n" + failure;
  throw std::runtime_error(text);
}

GatewayProcess::~GatewayProcess() {
  if (child_) child_->Stop();
}

void GatewayProcess::WriteFiles(int port_index, int reserve_index) const {
  std::ostringstream settings;
  settings << "[General]\n"
           << "cbPort.ItemIndex=" << port_index << "\n";
  if (reserve_index >= 0) {
    settings << "sCheck_UseCsdComPort.Checked=1\n"
             << "sComboBox_PortCSD.ItemIndex=" << reserve_index << "\n";
  }
  settings << "sCheckBox_AutoConnect.Checked=1\n"
           << "AdvMaskEdit_IP_ADR.Text=127.0.0.1\n"
           << "AdvEdit_PortServer.Text=" << port_ << "\n"
           << "AdvEditPerHeart.Text=" << options_.heartbeat_period << "\n";
  WriteFile(folder_ / "config" / "Zorvan_Server.conf", settings.str());
  std::string list;
  for (const std::string& line : options_.object_list) list += line + "\r\n";
  WriteFile(folder_ / "work" / "Zorvan_Server.txt", list);
}

bool GatewayProcess::StartOnce(std::string& failure) {
  const std::vector<std::string> ports = ListSerialPorts();
  const auto index_of = [&](const std::string& name) {
    const auto listed = std::find(ports.begin(), ports.end(), name);
    return listed == ports.end() ? -1 : static_cast<int>(listed - ports.begin());
  };
  const int console_index = index_of(options_.console_port);
  const bool reserve = !options_.reserve_port.empty();
  const int reserve_index = reserve ? index_of(options_.reserve_port) : -1;
  if (console_index < 0 || (reserve && reserve_index < 0)) {
    failure = "a port is missing from the port list (" + Joined(ports) + ")";
    return false;
  }
  port_ = FreeTcpPort();
  WriteFiles(console_index, reserve_index);

  ChildOptions launch;
  launch.argv = {options_.program.string()};
  launch.environment = {"XDG_CONFIG_HOME=" + (folder_ / "config").string(),
                        "XDG_RUNTIME_DIR=" + (folder_ / "runtime").string(),
                        "QT_QPA_PLATFORM=" + options_.platform};
  launch.environment.insert(launch.environment.end(), options_.environment.begin(),
                            options_.environment.end());
  launch.working_folder = folder_ / "work";
  launch.output = folder_ / "output.log";
  child_ = std::make_unique<ChildProcess>(launch);

  const bool up =
      Eventually([&] { return !child_->Running() || Listening(); }, options_.start_limit);
  if (!child_->Running()) {
    failure = "it " + DescribeWaitStatus(*child_->WaitStatus()) + "; output:\n" + Output();
    return false;
  }
  if (!up || !Holds(options_.console_device) || (reserve && !Holds(options_.reserve_device))) {
    failure = std::string(up ? "it holds other serial ports" : "it did not listen in time") +
              " (port list then: " + Joined(ports) + "; now: " + Joined(ListSerialPorts()) +
              "; descriptors: " + Joined(Descriptors()) + "); output:\n" + Output();
    child_->Stop();
    return false;
  }
  return true;
}

bool GatewayProcess::Listening() const {
  std::set<unsigned long> inodes;
  for (const std::string& target : Descriptors()) {
    if (const unsigned long inode = SocketInode(target)) inodes.insert(inode);
  }
  std::ifstream table("/proc/" + std::to_string(pid()) + "/net/tcp");
  std::string line;
  std::getline(table, line);  // the column names
  char wanted[32];
  std::snprintf(wanted, sizeof wanted, "0100007F:%04X", port_);
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout;
    unsigned long inode = 0;
    fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >>
        timeout >> inode;
    if (local == wanted && state == "0A" && inodes.count(inode) != 0) return true;
  }
  return false;
}

std::vector<std::string> GatewayProcess::Descriptors() const {
  std::vector<std::string> targets;
  std::error_code ec;
  const fs::path folder = "/proc/" + std::to_string(pid()) + "/fd";
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code link_ec;
    const fs::path target = fs::read_symlink(it->path(), link_ec);
    if (!link_ec) targets.push_back(target.string());
  }
  return targets;
}

int GatewayProcess::ThreadCount() const {
  int count = 0;
  std::error_code ec;
  const fs::path folder = "/proc/" + std::to_string(pid()) + "/task";
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) ++count;
  return count;
}

std::vector<std::string> GatewayProcess::TerminalDescriptors() const {
  std::vector<std::string> terminals;
  for (const std::string& target : Descriptors()) {
    if (target.starts_with("/dev/pts/")) terminals.push_back(target);
  }
  return terminals;
}

bool GatewayProcess::Holds(const std::string& device) const {
  const std::vector<std::string> targets = Descriptors();
  return std::find(targets.begin(), targets.end(), device) != targets.end();
}

std::string GatewayProcess::Output() const { return ReadFile(folder_ / "output.log"); }

std::vector<std::string> GatewayProcess::SanitizerReports() const {
  static const char* const kHeadlines[] = {"WARNING: ThreadSanitizer:", "ERROR: AddressSanitizer:",
                                           "ERROR: LeakSanitizer:", "runtime error:"};
  std::vector<std::string> reports;
  std::istringstream output(Output());
  std::string line;
  while (std::getline(output, line)) {
    for (const char* headline : kHeadlines) {
      if (line.find(headline) != std::string::npos) {
        reports.push_back(line);
        break;
      }
    }
  }
  return reports;
}

std::string GatewayProcess::Stop() {
  if (!child_) return "";
  if (!child_->Running()) return DescribeWaitStatus(*child_->WaitStatus());
  child_->Stop();
  return "";
}

int FreeTcpPort() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    const int error = errno;
    close(fd);
    throw std::runtime_error(std::string("bind: ") + std::strerror(error));
  }
  close(fd);
  return ntohs(address.sin_port);
}

}  // namespace gateway::e2e
