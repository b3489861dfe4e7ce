#include "communicator-sim/communicator_link.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace gateway {

sockaddr_in ResolveGateway(const std::string& host, int port) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int status = ::getaddrinfo(host.c_str(), nullptr, &hints, &found);
  if (status != 0 || found == nullptr) {
    throw std::runtime_error("cannot resolve " + host + ": " + ::gai_strerror(status));
  }
  sockaddr_in address;
  std::memcpy(&address, found->ai_addr, sizeof address);
  ::freeaddrinfo(found);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  return address;
}

CommunicatorLink::CommunicatorLink(const sockaddr_in& gateway) : gateway_(gateway) {}

CommunicatorLink::~CommunicatorLink() { Close(); }

std::string CommunicatorLink::Ensure(std::chrono::milliseconds timeout) {
  if (Refresh()) return {};
  if (std::string failure = BeginOpen(); !failure.empty()) return failure;
  if (!opening_) return {};
  pollfd watched{fd_, POLLOUT, 0};
  int ready;
  do {
    ready = ::poll(&watched, 1, static_cast<int>(timeout.count()));
  } while (ready < 0 && errno == EINTR);
  if (ready == 0) {
    Close();
    return "connection timed out";
  }
  return FinishOpen();
}

bool CommunicatorLink::Refresh() {
  if (fd_ < 0 || opening_) return false;
  char stale[256];
  for (;;) {
    const ssize_t got = ::recv(fd_, stale, sizeof stale, MSG_DONTWAIT);
    if (got > 0) continue;
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
    break;  // closed by the gateway, or reset
  }
  Close();
  return false;
}

std::string CommunicatorLink::BeginOpen() {
  Close();
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd_ < 0) return std::strerror(errno);
  const int on = 1;
  ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  if (::connect(fd_, reinterpret_cast<const sockaddr*>(&gateway_), sizeof gateway_) == 0) {
    return {};
  }
  if (errno == EINPROGRESS) {
    opening_ = true;
    return {};
  }
  const std::string reason = std::strerror(errno);
  Close();
  return reason;
}

std::string CommunicatorLink::FinishOpen() {
  if (!opening_) return fd_ >= 0 ? "" : "not connected";
  pollfd watched{fd_, POLLOUT, 0};
  if (::poll(&watched, 1, 0) <= 0) {
    Close();
    return "connection timed out";
  }
  int error = 0;
  socklen_t size = sizeof error;
  if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &size) != 0) error = errno;
  if (error != 0) {
    Close();
    return std::strerror(error);
  }
  opening_ = false;
  return {};
}

bool CommunicatorLink::Send(std::string_view line) {
  reply_.clear();
  peer_closed_ = false;
  if (fd_ < 0 || opening_) return false;
  ssize_t sent;
  do {
    sent = ::send(fd_, line.data(), line.size(), MSG_NOSIGNAL);
  } while (sent < 0 && errno == EINTR);
  if (sent != static_cast<ssize_t>(line.size())) {
    Close();
    return false;
  }
  return true;
}

std::optional<Outcome> CommunicatorLink::Collect() {
  while (fd_ >= 0 && !peer_closed_) {
    char buffer[256];
    const ssize_t got = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
    if (got > 0) {
      reply_.append(buffer, static_cast<std::size_t>(got));
    } else if (got < 0 && errno == EINTR) {
      continue;
    } else if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      break;
    } else {
      peer_closed_ = true;  // an orderly close or a reset: the gateway has let go either way
    }
  }
  if (peer_closed_) Close();
  return JudgeReply(reply_, peer_closed_, false);
}

Outcome CommunicatorLink::Expire() {
  return JudgeReply(reply_, peer_closed_, true).value_or(Outcome::kOther);
}

void CommunicatorLink::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  opening_ = false;
}

}  // namespace gateway
