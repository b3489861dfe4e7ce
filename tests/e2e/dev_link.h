// Links in /dev that make a pseudo-terminal appear in the gateway's serial port list, as a
// virtual port does. Each is removed at the end of its test, and links that a test process left
// behind when it died are cleared away before new ones are made.
#pragma once

#include <string>
#include <string_view>

namespace gateway::e2e {

class DevLink {
 public:
  // Creates /dev/`name` leading to `target`. A link of that name left by an ended test process is
  // replaced; anything else there throws std::runtime_error.
  DevLink(std::string name, std::string target);
  // Removes the link if it still leads to the target.
  ~DevLink();
  DevLink(const DevLink&) = delete;
  DevLink& operator=(const DevLink&) = delete;

  // The port name the gateway lists ("ttyE2E-1234-1").
  const std::string& name() const { return name_; }
  std::string path() const { return "/dev/" + name_; }

  // A name no other link of this or any other live test process uses. The names sort before
  // "ttyS..." and "ttyUSB...", so the real ports and most virtual ones do not shift them.
  static std::string UniqueName();
  // Removes the links of test processes that no longer run.
  static void RemoveLeftovers();

 private:
  std::string name_;
  std::string target_;
};

// Whether links can be placed in /dev (the tests need root for it).
bool CanPlaceDevLinks();

}  // namespace gateway::e2e
