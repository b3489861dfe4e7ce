#include "e2e/virtual_display.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "e2e/gateway_process.h"

namespace gateway::e2e {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

constexpr int kFirstDisplay = 90;
constexpr int kDisplaysTried = 40;
constexpr milliseconds kCommandLimit{10000};
constexpr int kWindowManagerAttempts = 3;

std::string Where(const char* program) {
  for (const char* folder : {"/usr/bin/", "/usr/local/bin/", "/bin/"}) {
    const std::string path = std::string(folder) + program;
    if (access(path.c_str(), X_OK) == 0) return path;
  }
  return "";
}

std::string ReadText(const fs::path& path) {
  std::ifstream file(path);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

}  // namespace

bool DisplayToolsInstalled() {
  for (const char* program : {"Xvfb", "openbox", "xdotool", "xprop"}) {
    if (Where(program).empty()) return false;
  }
  return true;
}

VirtualDisplay::VirtualDisplay() {
  for (int number = kFirstDisplay; number < kFirstDisplay + kDisplaysTried && !server_; ++number) {
    const fs::path socket = "/tmp/.X11-unix/X" + std::to_string(number);
    const fs::path lock = "/tmp/.X" + std::to_string(number) + "-lock";
    std::error_code ec;
    if (fs::exists(socket, ec) || fs::exists(lock, ec)) continue;
    const std::string name = ":" + std::to_string(number);
    ChildOptions launch;
    launch.argv = {Where("Xvfb"), name, "-screen", "0", "1024x768x24", "-nolisten", "tcp"};
    launch.output = folder_ / "xvfb.log";
    auto server = std::make_unique<ChildProcess>(launch);
    // Another display may take the number at the same moment: the server then ends at once.
    if (Eventually([&] { return !server->Running() || fs::exists(socket); }, milliseconds(10000)) &&
        server->Running()) {
      server_ = std::move(server);
      name_ = name;
    }
  }
  if (!server_) throw std::runtime_error("no X display could be started");
  // The socket comes before the server takes connections.
  const bool answering = Eventually(
      [&] {
        return RunCommand({Where("xprop"), "-root", "-len", "0"}, kCommandLimit, {Environment()})
                   .exit_code == 0;
      },
      milliseconds(10000));
  if (!answering) throw std::runtime_error("the X server on " + name_ + " does not answer");

  ChildOptions launch;
  launch.argv = {Where("openbox"), "--sm-disable"};
  launch.environment = {Environment(), "XDG_CONFIG_HOME=" + (folder_ / "config").string()};
  launch.output = folder_ / "openbox.log";
  const auto managed = [&] {
    return RunCommand({Where("xprop"), "-root", "_NET_SUPPORTING_WM_CHECK"}, kCommandLimit,
                      {Environment()})
               .output.find("window id") != std::string::npos;
  };
  for (int attempt = 0; attempt < kWindowManagerAttempts; ++attempt) {
    window_manager_ = std::make_unique<ChildProcess>(launch);
    if (Eventually(managed, milliseconds(10000))) return;
  }
  throw std::runtime_error("openbox did not come up on " + name_ + ": " +
                           (window_manager_->Running() ? "running" : "ended") + "; log:\n" +
                           ReadText(folder_ / "openbox.log"));
}

VirtualDisplay::~VirtualDisplay() {
  window_manager_.reset();
  server_.reset();
}

CommandResult VirtualDisplay::Xdotool(const std::vector<std::string>& arguments) const {
  std::vector<std::string> argv = {Where("xdotool")};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return RunCommand(argv, kCommandLimit, {Environment()});
}

std::vector<std::string> VirtualDisplay::Windows(pid_t pid, const std::string& title) const {
  const CommandResult found = Xdotool({"search", "--all", "--onlyvisible", "--pid",
                                       std::to_string(pid), "--name", "^" + title + "$"});
  std::vector<std::string> windows;
  std::istringstream lines(found.output);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.find_first_not_of("0123456789") == std::string::npos) {
      windows.push_back(line);
    }
  }
  return windows;
}

bool VirtualDisplay::PressKeys(const std::string& window, const std::string& keys) const {
  if (Xdotool({"windowactivate", "--sync", window}).exit_code != 0) return false;
  return Xdotool({"key", "--clearmodifiers", keys}).exit_code == 0;
}

bool VirtualDisplay::Click(const std::string& window, int x, int y) const {
  if (Xdotool({"windowactivate", "--sync", window}).exit_code != 0) return false;
  return Xdotool(
             {"mousemove", "--window", window, std::to_string(x), std::to_string(y), "click", "1"})
             .exit_code == 0;
}

bool VirtualDisplay::StaysOnTop(const std::string& window) const {
  const CommandResult state =
      RunCommand({Where("xprop"), "-id", window, "_NET_WM_STATE"}, kCommandLimit, {Environment()});
  return state.output.find("_NET_WM_STATE_ABOVE") != std::string::npos;
}

}  // namespace gateway::e2e
