// A private X display (Xvfb) with a window manager (openbox), and the operator's hands on it
// through xdotool: the tests that need someone to dismiss a dialog or press Connect find the
// gateway's windows there and press keys and buttons as a person would.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

#include "e2e/child_process.h"
#include "fixtures/temp_dir.h"

namespace gateway::e2e {

class VirtualDisplay {
 public:
  // Starts Xvfb on a display number nothing else uses and openbox on it; throws
  // std::runtime_error when either does not come up.
  VirtualDisplay();
  ~VirtualDisplay();
  VirtualDisplay(const VirtualDisplay&) = delete;
  VirtualDisplay& operator=(const VirtualDisplay&) = delete;

  // "DISPLAY=:93", for the programs shown there.
  std::string Environment() const { return "DISPLAY=" + name_; }

  // The visible windows of process `pid` whose title is `title`, newest last.
  std::vector<std::string> Windows(pid_t pid, const std::string& title) const;
  // Gives `window` the keyboard and presses `keys` ("Return", "ctrl+e"); false on failure.
  bool PressKeys(const std::string& window, const std::string& keys) const;
  // Clicks the left button at (`x`, `y`) of the window's client area; false on failure.
  bool Click(const std::string& window, int x, int y) const;
  // Whether the window manager keeps `window` above the others.
  bool StaysOnTop(const std::string& window) const;

 private:
  CommandResult Xdotool(const std::vector<std::string>& arguments) const;

  TempDir folder_;
  std::string name_;
  std::unique_ptr<ChildProcess> server_;
  std::unique_ptr<ChildProcess> window_manager_;
};

// Whether Xvfb, openbox, xdotool and xprop are installed.
bool DisplayToolsInstalled();

}  // namespace gateway::e2e
