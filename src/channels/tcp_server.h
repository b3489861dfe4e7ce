// A TCP server with one thread per connection: one binding, a backlog of 15, no greeting and no
// time-outs. Live connections are listed oldest first under a lock the same thread may take
// again.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <stdexcept>
#include <stop_token>
#include <string>
#include <vector>

namespace gateway {

class NetworkError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One accepted connection. Read, Write and Connected are for the connection's own thread;
// Close may come from any thread.
class TcpConnection {
 public:
  virtual ~TcpConnection() = default;
  // Waits without a time limit until data arrives or the socket is closed, then returns what
  // one receive delivers (at most 32768 bytes). Returns the empty text when the peer has
  // closed (the connection then counts as no longer connected). Throws NetworkError when the
  // receive fails, also after Close from another thread.
  virtual std::string Read() = 0;
  // Sends the bytes at once; throws NetworkError on failure, also when the peer has taken
  // nothing for 5 s because it stopped reading.
  virtual void Write(std::span<const std::uint8_t> bytes) = 0;
  // Closes the socket so that a blocked Read fails; asks the connection's thread to stop.
  virtual void Close() = 0;
  // False once the peer has closed, a receive or send has failed, or Close was called.
  virtual bool Connected() const = 0;
  // Requested when the connection is being closed or the server stopped.
  virtual std::stop_token StopToken() const = 0;
};

// Each runs on the connection's own thread (256 KiB of stack; more in sanitizer builds). An
// exception escaping one closes that connection, and only that one; on_disconnect still runs.
struct TcpHandlers {
  std::function<void(TcpConnection&)> on_connect;     // once, before the first on_execute
  std::function<void(TcpConnection&)> on_execute;     // again and again while connected
  std::function<void(TcpConnection&)> on_disconnect;  // once, when the connection has ended
};

class TcpServer {
 public:
  explicit TcpServer(TcpHandlers handlers);
  // Deactivates; connection threads still running are left to end by themselves and run no
  // further handler once the call they are in returns.
  ~TcpServer();
  TcpServer(const TcpServer&) = delete;
  TcpServer& operator=(const TcpServer&) = delete;

  // Replaces every binding with this one: the address as typed ("0.0.0.0" is every local
  // address) and the port.
  void SetBinding(std::string address, int port);
  // Starts listening and accepting. Throws NetworkError when the binding cannot be made (an
  // address that is not IPv4 text, a port outside 0-65535, or the system refusing it); the
  // message names the address, the port and the reason. Does nothing when already active.
  void Activate();
  // Stops listening, closes every connection, then waits for the connection threads, checking
  // every 250 ms for at most 5000 ms. Throws NetworkError on the time-out; the server is
  // stopped and can be activated again either way, and the threads left over end by
  // themselves (they stay listed until then). A connection thread of this server that calls
  // it does not wait for itself. Does nothing when inactive.
  void Deactivate();
  bool Active() const;
  // The port actually bound while active (the one the system chose for port 0); 0 otherwise.
  int LocalPort() const;

  // Runs `visit` under the connection list's lock with the live connections, oldest first.
  void ForEachConnection(const std::function<void(TcpConnection&)>& visit);
  // The number of live connections, read under the list's lock.
  int ConnectionCount();
  // Closes the oldest connection, if any, under the list's lock.
  void CloseOldest();
  // The list's lock, for callers that must hold it across several steps. Ending connections
  // wait for it to leave the list, so Deactivate is not for a thread that holds it.
  std::recursive_mutex& ListLock();

 private:
  struct Impl;
  std::shared_ptr<Impl> impl_;
};

}  // namespace gateway
