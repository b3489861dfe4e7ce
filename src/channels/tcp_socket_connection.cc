#include "channels/tcp_socket_connection.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace gateway {

namespace {

NetworkError SocketFailure(const char* operation, int error) {
  return NetworkError(std::string("Socket error on ") + operation + ": " + std::strerror(error));
}

}  // namespace

TcpSocketConnection::TcpSocketConnection(int fd) : fd_(fd) {}

TcpSocketConnection::~TcpSocketConnection() { ReleaseSocket(); }

std::string TcpSocketConnection::Read() {
  // Bytes that arrive after a local Close are not handed out: the closing thread wants this
  // connection to end, not to relay one more buffer.
  if (stop_.stop_requested()) throw NetworkError("Connection closed");
  char buffer[kTcpReadLimit];
  for (;;) {
    const ssize_t received = ::recv(fd_, buffer, sizeof buffer, 0);
    if (received < 0 && errno == EINTR) continue;
    if (stop_.stop_requested()) {
      connected_ = false;
      throw NetworkError("Connection closed");
    }
    if (received < 0) {
      const int error = errno;
      connected_ = false;
      throw SocketFailure("receive", error);
    }
    // A shutdown from Close also ends recv with 0; that case was caught above, so 0 here is
    // the peer's orderly close.
    if (received == 0) connected_ = false;
    return std::string(buffer, static_cast<std::size_t>(received));
  }
}

void TcpSocketConnection::Write(std::span<const std::uint8_t> bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t written = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (written < 0) {
      if (errno == EINTR) continue;
      const int error = errno;
      connected_ = false;
      throw SocketFailure("send", error);
    }
    sent += static_cast<std::size_t>(written);
  }
}

void TcpSocketConnection::Close() {
  stop_.request_stop();
  connected_ = false;
  std::lock_guard lock(fd_mutex_);
  if (fd_ >= 0) ::shutdown(fd_, SHUT_RDWR);
}

bool TcpSocketConnection::Connected() const { return connected_; }

std::stop_token TcpSocketConnection::StopToken() const { return stop_.get_token(); }

void TcpSocketConnection::ReleaseSocket() {
  std::lock_guard lock(fd_mutex_);
  if (fd_ < 0) return;
  ::close(fd_);
  fd_ = -1;
  connected_ = false;
}

}  // namespace gateway
