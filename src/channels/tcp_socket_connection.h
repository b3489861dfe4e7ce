// One accepted TCP connection on a POSIX socket: blocking reads and writes for the connection's
// own thread, and a Close that any thread may call to wake that thread's blocked read.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <span>
#include <stop_token>
#include <string>

#include "channels/tcp_server.h"

namespace gateway {

// The most one Read returns: what a single receive of this size delivers.
inline constexpr std::size_t kTcpReadLimit = 32768;

class TcpSocketConnection final : public TcpConnection {
 public:
  // Takes ownership of `fd`, a connected stream socket in blocking mode.
  explicit TcpSocketConnection(int fd);
  // Closes the descriptor if ReleaseSocket has not done so already.
  ~TcpSocketConnection() override;
  TcpSocketConnection(const TcpSocketConnection&) = delete;
  TcpSocketConnection& operator=(const TcpSocketConnection&) = delete;

  std::string Read() override;
  void Write(std::span<const std::uint8_t> bytes) override;
  void Close() override;
  bool Connected() const override;
  std::stop_token StopToken() const override;

  // Closes the descriptor for good. Only the connection's own thread calls it, once it has
  // finished with the connection; a later Close from another thread then does nothing.
  void ReleaseSocket();

 private:
  // The descriptor changes only in ReleaseSocket, on the connection's own thread, so Read and
  // Write use it without the lock; Close takes the lock so that it never shuts down a number
  // that has been closed and perhaps reused.
  std::mutex fd_mutex_;
  int fd_;
  std::atomic<bool> connected_{true};
  std::stop_source stop_;
};

}  // namespace gateway
