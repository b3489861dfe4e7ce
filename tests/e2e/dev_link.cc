#include "e2e/dev_link.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace gateway::e2e {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kPrefix = "ttyE2E-";

// The test process that made a link named kPrefix + pid + "-" + number; 0 for other names.
pid_t OwnerOf(std::string_view name) {
  if (!name.starts_with(kPrefix)) return 0;
  name.remove_prefix(kPrefix.size());
  pid_t pid = 0;
  const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), pid);
  if (error != std::errc() || end == name.data() || end == name.data() + name.size() ||
      *end != '-') {
    return 0;
  }
  return pid;
}

bool ProcessRuns(pid_t pid) { return kill(pid, 0) == 0 || errno == EPERM; }

}  // namespace

DevLink::DevLink(std::string name, std::string target)
    : name_(std::move(name)), target_(std::move(target)) {
  const fs::path link = path();
  std::error_code ec;
  if (fs::is_symlink(fs::symlink_status(link, ec))) {
    const pid_t owner = OwnerOf(name_);
    if (owner == 0 || owner == getpid() || ProcessRuns(owner)) {
      throw std::runtime_error(link.string() + " is in use");
    }
    fs::remove(link, ec);
  }
  fs::create_symlink(target_, link, ec);
  if (ec) throw std::runtime_error("cannot link " + link.string() + ": " + ec.message());
}

DevLink::~DevLink() {
  std::error_code ec;
  if (fs::read_symlink(path(), ec) == fs::path(target_) && !ec) fs::remove(path(), ec);
}

std::string DevLink::UniqueName() {
  static std::atomic<int> next{1};
  return std::string(kPrefix) + std::to_string(getpid()) + "-" + std::to_string(next++);
}

void DevLink::RemoveLeftovers() {
  std::error_code ec;
  for (fs::directory_iterator it("/dev", ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    const pid_t owner = OwnerOf(name);
    std::error_code link_ec;
    if (owner != 0 && owner != getpid() && !ProcessRuns(owner) && it->is_symlink(link_ec)) {
      fs::remove(it->path(), link_ec);
    }
  }
}

bool CanPlaceDevLinks() { return access("/dev", W_OK) == 0; }

}  // namespace gateway::e2e
