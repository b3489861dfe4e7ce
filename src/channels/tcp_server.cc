#include "channels/tcp_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <list>
#include <system_error>
#include <thread>
#include <utility>

#include "channels/tcp_socket_connection.h"

namespace gateway {

namespace {

constexpr int kBacklog = 15;
constexpr auto kDeactivateCheck = std::chrono::milliseconds(250);
constexpr int kDeactivateChecks = 20;  // 20 checks of 250 ms: at most 5000 ms
// A pause after an accept that failed for lack of resources (descriptors, memory), so that a
// listening socket that stays readable does not turn the listener into a busy loop.
constexpr int kAcceptBackoffMs = 100;
constexpr int kSendTimeoutSeconds = 5;

// Connection threads run the relay, which keeps little on the stack (a 32 KiB read buffer is
// the largest item), so a thousand of them need far less than the default 8 MiB each. The
// sanitizers enlarge every frame, so their builds get more.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr std::size_t kConnectionStackBytes = 1024 * 1024;
#else
constexpr std::size_t kConnectionStackBytes = 256 * 1024;
#endif

std::string BindingText(const std::string& address, int port) {
  return address + ":" + std::to_string(port);
}

NetworkError BindFailure(const std::string& address, int port, const std::string& reason) {
  return NetworkError("Could not bind socket to " + BindingText(address, port) + ": " + reason);
}

void CloseDescriptor(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

// Starts `body` on a detached thread with the connection stack size. Returns false when the
// system refuses another thread.
bool StartDetached(std::function<void()> body) {
  pthread_attr_t attributes;
  if (pthread_attr_init(&attributes) != 0) return false;
  pthread_attr_setstacksize(&attributes, kConnectionStackBytes);
  pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  auto* heap_body = new std::function<void()>(std::move(body));
  pthread_t thread;
  const int started = pthread_create(
      &thread, &attributes,
      [](void* argument) -> void* {
        auto* owned = static_cast<std::function<void()>*>(argument);
        (*owned)();
        delete owned;
        return nullptr;
      },
      heap_body);
  pthread_attr_destroy(&attributes);
  if (started != 0) {
    delete heap_body;
    return false;
  }
  return true;
}

}  // namespace

// Shared by the server object and every connection thread, so that a thread that outlives the
// server (after a deactivation time-out, or after the server's destruction) still finds the
// list, the counters and the handlers it uses.
struct TcpServer::Impl {
  explicit Impl(TcpHandlers handlers) : handlers(std::move(handlers)) {}

  // Accepts until woken; `self` is this state, handed on to every connection thread.
  void Listen(const std::shared_ptr<Impl>& self);
  void Admit(int fd, const std::shared_ptr<Impl>& self);
  void RunConnection(const std::shared_ptr<TcpSocketConnection>& connection);
  // Runs one handler; an exception closes the connection and gives false.
  bool CallHandler(const std::function<void(TcpConnection&)>& handler,
                   TcpSocketConnection& connection);
  void Forget(const std::shared_ptr<TcpSocketConnection>& connection);
  void ThreadStarted();
  void ThreadEnded();
  // Connection threads still running, not counting the calling thread if it is one of them.
  int OtherRunningThreads() const;
  void StopListening();

  const TcpHandlers handlers;
  // Set when the server object is destroyed: threads still running call no further handler.
  std::atomic<bool> orphaned{false};

  std::mutex control_mutex;  // Activate, Deactivate and SetBinding one at a time
  std::string address = "0.0.0.0";
  int port = 5551;
  std::atomic<bool> active{false};
  std::atomic<int> local_port{0};
  int listen_fd = -1;
  int wake_read_fd = -1;
  int wake_write_fd = -1;
  std::thread listener;

  std::recursive_mutex list_mutex;
  std::list<std::shared_ptr<TcpSocketConnection>> connections;  // oldest first

  mutable std::mutex threads_mutex;
  std::condition_variable threads_ended;
  int running_threads = 0;
};

namespace {

// The inner state of the server whose connection thread the calling thread is, if any.
thread_local const void* current_connection_server = nullptr;

}  // namespace

void TcpServer::Impl::Listen(const std::shared_ptr<Impl>& self) {
  // True when the wake-up came during the pause.
  const auto pause_woken = [&] {
    pollfd wake = {wake_read_fd, POLLIN, 0};
    return ::poll(&wake, 1, kAcceptBackoffMs) > 0;
  };
  pollfd watched[2] = {{listen_fd, POLLIN, 0}, {wake_read_fd, POLLIN, 0}};
  for (;;) {
    if (::poll(watched, 2, -1) < 0) {
      if (errno != EINTR && pause_woken()) return;
      continue;
    }
    if (watched[1].revents != 0) return;
    // The listening socket does not block: take every pending connection before polling
    // again, so that a burst of connections does not overflow the short backlog.
    for (;;) {
      const int fd = ::accept4(listen_fd, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd >= 0) {
        Admit(fd, self);
        continue;
      }
      if (errno == EAGAIN || errno == EWOULDBLOCK) break;
      // A connection that failed before it was taken concerns that connection only.
      if (errno == EINTR || errno == ECONNABORTED || errno == EPROTO || errno == ENETDOWN ||
          errno == ENOPROTOOPT || errno == EHOSTDOWN || errno == ENONET || errno == EHOSTUNREACH ||
          errno == EOPNOTSUPP || errno == ENETUNREACH) {
        continue;
      }
      // Out of descriptors or memory: the pending connection stays readable, so pause rather
      // than turn into a busy loop.
      if (pause_woken()) return;
      break;
    }
  }
}

void TcpServer::Impl::Admit(int fd, const std::shared_ptr<Impl>& self) {
  // The acknowledgements are one or two bytes answered to a request: they must not wait for
  // the peer's delayed ACK.
  const int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  // A peer that stops reading fills its window; a send then fails after this long instead of
  // holding the connection's thread for as long as the peer stays silent.
  const timeval send_timeout{kSendTimeoutSeconds, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &send_timeout, sizeof send_timeout);
  auto connection = std::make_shared<TcpSocketConnection>(fd);
  {
    std::lock_guard lock(list_mutex);
    connections.push_back(connection);
  }
  ThreadStarted();
  if (!StartDetached([self, connection] { self->RunConnection(connection); })) {
    Forget(connection);
    connection->ReleaseSocket();
    ThreadEnded();
  }
}

bool TcpServer::Impl::CallHandler(const std::function<void(TcpConnection&)>& handler,
                                  TcpSocketConnection& connection) {
  if (orphaned) return false;
  try {
    handler(connection);
    return true;
  } catch (...) {
    // A failing handler ends its own connection and nothing else.
    connection.Close();
    return false;
  }
}

void TcpServer::Impl::RunConnection(const std::shared_ptr<TcpSocketConnection>& connection) {
  current_connection_server = this;
  const auto running = [&] {
    return connection->Connected() && !connection->StopToken().stop_requested() && !orphaned;
  };
  bool fine = !handlers.on_connect || CallHandler(handlers.on_connect, *connection);
  while (fine && running()) {
    if (handlers.on_execute) {
      fine = CallHandler(handlers.on_execute, *connection);
    } else {
      // Without an execute handler the data is read and dropped, so that the thread still
      // waits in a blocked read and notices the end of the connection.
      try {
        connection->Read();
      } catch (const NetworkError&) {
        fine = false;
      }
    }
  }
  if (handlers.on_disconnect) CallHandler(handlers.on_disconnect, *connection);
  Forget(connection);
  connection->ReleaseSocket();
  current_connection_server = nullptr;
  ThreadEnded();
}

void TcpServer::Impl::Forget(const std::shared_ptr<TcpSocketConnection>& connection) {
  std::lock_guard lock(list_mutex);
  connections.remove(connection);
}

void TcpServer::Impl::ThreadStarted() {
  std::lock_guard lock(threads_mutex);
  ++running_threads;
}

void TcpServer::Impl::ThreadEnded() {
  std::lock_guard lock(threads_mutex);
  --running_threads;
  threads_ended.notify_all();
}

int TcpServer::Impl::OtherRunningThreads() const {
  return running_threads - (current_connection_server == this ? 1 : 0);
}

void TcpServer::Impl::StopListening() {
  if (listener.joinable()) {
    const char wake = 1;
    while (::write(wake_write_fd, &wake, 1) < 0 && errno == EINTR) {
    }
    listener.join();
  }
  CloseDescriptor(listen_fd);
  CloseDescriptor(wake_read_fd);
  CloseDescriptor(wake_write_fd);
  local_port = 0;
  active = false;
}

TcpServer::TcpServer(TcpHandlers handlers) : impl_(std::make_shared<Impl>(std::move(handlers))) {}

TcpServer::~TcpServer() {
  // First, because the owner of the handlers is being torn down: no connection thread may
  // start another handler call from here on.
  impl_->orphaned = true;
  try {
    Deactivate();
  } catch (const NetworkError&) {
    // The threads that did not end in time finish on their own; they share the inner state.
  }
}

void TcpServer::SetBinding(std::string address, int port) {
  std::lock_guard lock(impl_->control_mutex);
  impl_->address = std::move(address);
  impl_->port = port;
}

void TcpServer::Activate() {
  Impl& impl = *impl_;
  std::lock_guard lock(impl.control_mutex);
  if (impl.active) return;

  sockaddr_in socket_address{};
  socket_address.sin_family = AF_INET;
  if (::inet_pton(AF_INET, impl.address.c_str(), &socket_address.sin_addr) != 1) {
    throw BindFailure(impl.address, impl.port, "not an IPv4 address");
  }
  if (impl.port < 0 || impl.port > 65535) {
    throw BindFailure(impl.address, impl.port, "port out of range 0-65535");
  }
  socket_address.sin_port = htons(static_cast<std::uint16_t>(impl.port));

  int listen_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  const auto fail = [&](int error) {
    CloseDescriptor(listen_fd);
    return BindFailure(impl.address, impl.port, std::strerror(error));
  };
  if (listen_fd < 0) throw fail(errno);
  const int on = 1;
  if (::setsockopt(listen_fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) throw fail(errno);
  if (::bind(listen_fd, reinterpret_cast<const sockaddr*>(&socket_address),
             sizeof socket_address) != 0) {
    throw fail(errno);
  }
  if (::listen(listen_fd, kBacklog) != 0) throw fail(errno);
  sockaddr_in bound{};
  socklen_t bound_size = sizeof bound;
  if (::getsockname(listen_fd, reinterpret_cast<sockaddr*>(&bound), &bound_size) != 0) {
    throw fail(errno);
  }
  int wake[2];
  if (::pipe2(wake, O_CLOEXEC) != 0) throw fail(errno);

  impl.listen_fd = listen_fd;
  impl.wake_read_fd = wake[0];
  impl.wake_write_fd = wake[1];
  impl.local_port = ntohs(bound.sin_port);
  // The listener admits connections with the shared state so that their threads keep it.
  std::shared_ptr<Impl> shared = impl_;
  try {
    impl.listener = std::thread([shared] { shared->Listen(shared); });
  } catch (const std::system_error& error) {
    impl.StopListening();
    throw BindFailure(impl.address, impl.port, error.what());
  }
  impl.active = true;
}

void TcpServer::Deactivate() {
  Impl& impl = *impl_;
  std::lock_guard control(impl.control_mutex);
  if (!impl.active) return;
  impl.StopListening();
  {
    std::lock_guard list(impl.list_mutex);
    for (const auto& connection : impl.connections) connection->Close();
  }
  std::unique_lock threads(impl.threads_mutex);
  for (int check = 0; check < kDeactivateChecks; ++check) {
    if (impl.threads_ended.wait_for(threads, kDeactivateCheck,
                                    [&] { return impl.OtherRunningThreads() == 0; })) {
      return;
    }
  }
  throw NetworkError(
      "Server deactivation timed out: " + std::to_string(impl.OtherRunningThreads()) +
      " connection threads still running after 5000 ms");
}

bool TcpServer::Active() const { return impl_->active; }

int TcpServer::LocalPort() const { return impl_->local_port; }

void TcpServer::ForEachConnection(const std::function<void(TcpConnection&)>& visit) {
  std::lock_guard lock(impl_->list_mutex);
  for (const auto& connection : impl_->connections) visit(*connection);
}

int TcpServer::ConnectionCount() {
  std::lock_guard lock(impl_->list_mutex);
  return static_cast<int>(impl_->connections.size());
}

void TcpServer::CloseOldest() {
  std::lock_guard lock(impl_->list_mutex);
  if (!impl_->connections.empty()) impl_->connections.front()->Close();
}

std::recursive_mutex& TcpServer::ListLock() { return impl_->list_mutex; }

}  // namespace gateway
