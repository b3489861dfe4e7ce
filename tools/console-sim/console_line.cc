#include "console-sim/console_line.h"

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

namespace gateway::console_sim {
namespace {

namespace fs = std::filesystem;

bool IsPseudoTerminalPath(const fs::path& target) {
  const std::string text = target.lexically_normal().string();
  constexpr std::string_view kPts = "/dev/pts/";
  if (!std::string_view(text).starts_with(kPts) || text.size() == kPts.size()) return false;
  for (char c : std::string_view(text).substr(kPts.size())) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// Why `link` may not be (re)placed, or empty when it may: only a free place or a stale link to
// a pseudo-terminal that has gone are taken.
std::string LinkPlaceRefusal(const fs::path& link) {
  std::error_code ec;
  const fs::file_status status = fs::symlink_status(link, ec);
  if (!fs::exists(status)) return "";
  if (!fs::is_symlink(status)) return link.string() + " exists and is no link; it is left alone";
  fs::path target = fs::read_symlink(link, ec);
  if (!ec && target.is_relative()) target = link.parent_path() / target;
  if (ec || !IsPseudoTerminalPath(target)) {
    return link.string() + " is a link to " + target.string() +
           ", no pseudo-terminal; it is left alone";
  }
  if (fs::exists(target, ec)) {
    return link.string() + " leads to " + target.string() +
           ", which is in use; remove the link or choose another name";
  }
  return "";
}

}  // namespace

ConsoleLine::ConsoleLine(const fs::path& link) {
  if (!link.empty()) {
    const std::string refusal = LinkPlaceRefusal(link);
    if (!refusal.empty()) throw LineError(refusal);
  }
  char name[64] = {};
  termios raw{};
  cfmakeraw(&raw);
  if (openpty(&master_fd_, &held_slave_fd_, name, &raw, nullptr) != 0) {
    throw LineError(std::string("no pseudo-terminal: ") + std::strerror(errno));
  }
  fcntl(master_fd_, F_SETFD, FD_CLOEXEC);
  fcntl(held_slave_fd_, F_SETFD, FD_CLOEXEC);
  fcntl(master_fd_, F_SETFL, fcntl(master_fd_, F_GETFL) | O_NONBLOCK);
  slave_path_ = name;
  if (link.empty()) return;
  // Made under a temporary name and renamed into place, so the replacement of a stale link is
  // one step and a link made meanwhile by someone else is never overwritten unseen.
  const fs::path temporary = link.string() + ".console-sim-" + std::to_string(getpid());
  std::error_code ec;
  fs::remove(temporary, ec);
  fs::create_symlink(slave_path_, temporary, ec);
  std::string refusal = ec ? "cannot link " + link.string() + ": " + ec.message() : "";
  if (refusal.empty()) refusal = LinkPlaceRefusal(link);
  if (refusal.empty()) {
    fs::rename(temporary, link, ec);
    if (ec) refusal = "cannot link " + link.string() + ": " + ec.message();
  }
  if (!refusal.empty()) {
    fs::remove(temporary, ec);
    close(master_fd_);
    close(held_slave_fd_);
    throw LineError(refusal);
  }
  link_ = link;
}

ConsoleLine::~ConsoleLine() {
  if (!link_.empty()) {
    std::error_code ec;
    if (fs::read_symlink(link_, ec) == fs::path(slave_path_) && !ec) fs::remove(link_, ec);
  }
  close(master_fd_);
  close(held_slave_fd_);
}

}  // namespace gateway::console_sim
