#include "channels/serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <optional>
#include <system_error>
#include <utility>

#include "channels/arbitrary_baud_rate.h"
#include "channels/port_error.h"
#include "channels/receive_watcher.h"

namespace gateway {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kOneMs = std::chrono::milliseconds(1);
constexpr short kGone = POLLHUP | POLLERR | POLLNVAL;

// Waits until `fd` reports one of `events`, a hang-up or an error, or until `deadline`.
// Returns the fd's revents, 0 at the deadline, -1 when the wait itself failed. ppoll takes
// its time-out to the nanosecond, which the 1 ms read rule needs.
int PollUntil(int fd, short events, Clock::time_point deadline) {
  while (true) {
    auto remaining = deadline - Clock::now();
    if (remaining < Clock::duration::zero()) remaining = Clock::duration::zero();
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(remaining).count();
    const timespec timeout{static_cast<time_t>(ns / 1'000'000'000),
                           static_cast<long>(ns % 1'000'000'000)};
    pollfd pfd{fd, events, 0};
    const int ready = ppoll(&pfd, 1, &timeout, nullptr);
    if (ready > 0) return pfd.revents;
    if (ready == 0) return 0;
    if (errno != EINTR) return -1;
  }
}

// The device has gone (an unplugged adapter, the other side of a pseudo-terminal closed): the
// kernel has hung the line up and refuses every further call on it with EIO.
bool LineGone(int fd) {
  pollfd pfd{fd, 0, 0};
  return poll(&pfd, 1, 0) > 0 && (pfd.revents & (POLLHUP | POLLERR)) != 0;
}

// The failure of a read or write on `fd`: a hung-up line is told apart, since the port behind
// it is gone for good.
[[noreturn]] void ThrowIoFailure(int fd, const char* text) {
  if (LineGone(fd)) throw LineHungUp(text);
  throw PortError(text);
}

// Pseudo-terminals have no modem lines and answer ENOTTY or EINVAL: that is no failure.
bool SetModemLines(int fd, unsigned long request, int lines) {
  if (ioctl(fd, request, &lines) == 0) return true;
  return errno == ENOTTY || errno == EINVAL;
}

std::optional<speed_t> TermiosSpeed(int rate) {
  switch (rate) {
    case 110:
      return B110;
    case 300:
      return B300;
    case 600:
      return B600;
    case 1200:
      return B1200;
    case 2400:
      return B2400;
    case 4800:
      return B4800;
    case 9600:
      return B9600;
    case 19200:
      return B19200;
    case 38400:
      return B38400;
    case 57600:
      return B57600;
    case 115200:
      return B115200;
    default:
      return std::nullopt;
  }
}

bool ValidBaudPosition(int position) {
  return position >= 0 && position < static_cast<int>(kBaudRates.size());
}

// Sets the rate at list `position` on `termios` and the line; throws kErrSetCommState.
void ApplyRate(int fd, termios& settings, int position) {
  if (!ValidBaudPosition(position)) throw PortError(kErrSetCommState);
  const int rate = kBaudRates[position];
  const std::optional<speed_t> speed = TermiosSpeed(rate);
  // A rate without a constant is set in a second step below; B9600 is only its placeholder.
  const speed_t constant = speed.value_or(B9600);
  if (cfsetispeed(&settings, constant) != 0 || cfsetospeed(&settings, constant) != 0 ||
      tcsetattr(fd, TCSANOW, &settings) != 0) {
    throw PortError(kErrSetCommState);
  }
  if (!speed && !SetArbitraryBaudRate(fd, rate)) throw PortError(kErrSetCommState);
}

// Raw binary 8N1, no hardware or software flow control, modem status ignored, receiver on;
// reads return at once with what is there, the deadlines being kept by ppoll.
void ApplyLineSettings(int fd, int position) {
  termios settings{};
  if (tcgetattr(fd, &settings) != 0) throw PortError(kErrSetCommState);
  cfmakeraw(&settings);
  settings.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
  settings.c_cflag |= CS8 | CLOCAL | CREAD;
  settings.c_iflag &= ~(IXON | IXOFF | IXANY);
  settings.c_cc[VMIN] = 0;
  settings.c_cc[VTIME] = 0;
  ApplyRate(fd, settings, position);
}

class FdGuard {
 public:
  explicit FdGuard(int fd) : fd_(fd) {}
  ~FdGuard() {
    if (fd_ >= 0) close(fd_);
  }
  FdGuard(const FdGuard&) = delete;
  FdGuard& operator=(const FdGuard&) = delete;
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

}  // namespace

struct SerialPort::Impl {
  explicit Impl(std::string root) : device_root(std::move(root)) {}

  void OpenLocked();
  // Throws, leaving the port open, unless `force`; a line that has gone is closed regardless.
  void CloseLocked(bool force);

  const std::string device_root;
  // Read, Write, Open, Close and SetBaudRate never overlap on one port.
  mutable std::mutex mutex;
  std::string name;
  int baud_position = kBaudPosition9600;
  std::function<void(int)> handler;
  EventDispatcher* dispatcher = nullptr;
  int fd = -1;
  std::atomic<bool> open{false};
  std::unique_ptr<ReceiveWatcher> watcher;
};

void SerialPort::Impl::OpenLocked() {
  if (name.empty()) throw PortError(kErrPortMissing);
  const std::string path = device_root + name;
  FdGuard guard(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (guard.get() < 0) {
    switch (errno) {
      case ENOENT:
      case ENOTDIR:
      case ENXIO:
      case ENODEV:
        throw PortError(kErrPortMissing);
      case EBUSY:
        throw PortError(kErrPortBusy);
      default:
        throw PortError(kErrSetupComm);
    }
  }
  const int new_fd = guard.get();
  if (!isatty(new_fd)) throw PortError(kErrSetupComm);
  // TIOCEXCL keeps out other openers, but not root; the advisory lock keeps out every program
  // that asks for it, root included.
  if (flock(new_fd, LOCK_EX | LOCK_NB) != 0) {
    throw PortError(errno == EWOULDBLOCK ? kErrPortBusy : kErrSetupComm);
  }
  if (ioctl(new_fd, TIOCEXCL) != 0) throw PortError(kErrSetupComm);
  // Buffer sizes of 2048 bytes: Linux has no general call to size a tty's buffers; its drivers
  // keep at least 4 KiB of input and their own output buffer, which covers that.
  ApplyLineSettings(new_fd, baud_position);
  const int flags = fcntl(new_fd, F_GETFL);
  if (flags < 0 || fcntl(new_fd, F_SETFL, flags | O_NONBLOCK) != 0) {
    throw PortError(kErrSetCommTimeouts);
  }
  if (!SetModemLines(new_fd, TIOCMBIS, TIOCM_DTR | TIOCM_RTS)) {
    throw PortError(kErrSetCommState);
  }
  if (handler && dispatcher) {
    try {
      watcher = std::make_unique<ReceiveWatcher>(new_fd, handler, *dispatcher);
    } catch (const std::system_error&) {
      // No thread or wake-up descriptor left for the receive events.
      throw PortError(kErrSetupComm);
    }
  }
  fd = guard.release();
  open = true;
}

void SerialPort::Impl::CloseLocked(bool force) {
  const auto fails = [&](bool ok) { return !ok && !force && !LineGone(fd); };
  if (fails(SetModemLines(fd, TIOCMBIC, TIOCM_DTR))) throw PortError(kErrEscapeCommFunction);
  if (fails(SetModemLines(fd, TIOCMBIC, TIOCM_RTS))) throw PortError(kErrEscapeCommFunction);
  // Only input is discarded: frames still on their way to the console are let through.
  if (fails(tcflush(fd, TCIFLUSH) == 0)) throw PortError(kErrPurgeComm);
  watcher.reset();
  // The exclusive flag belongs to the tty, not to this descriptor: it would outlive us while
  // another descriptor (the console's side of a pseudo-terminal, say) keeps the tty alive.
  ioctl(fd, TIOCNXCL);
  close(fd);
  fd = -1;
  open = false;
}

SerialPort::SerialPort(std::string device_root)
    : impl_(std::make_unique<Impl>(std::move(device_root))) {}

SerialPort::~SerialPort() {
  std::lock_guard lock(impl_->mutex);
  if (impl_->fd >= 0) impl_->CloseLocked(/*force=*/true);
}

void SerialPort::SetPortName(std::string name) {
  std::lock_guard lock(impl_->mutex);
  if (impl_->fd >= 0) throw PortError(kErrRenameOpen);
  impl_->name = std::move(name);
}

std::string SerialPort::PortName() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->name;
}

void SerialPort::SetBaudRate(int list_position) {
  std::lock_guard lock(impl_->mutex);
  if (impl_->fd >= 0) {
    termios settings{};
    if (tcgetattr(impl_->fd, &settings) != 0) throw PortError(kErrSetCommState);
    ApplyRate(impl_->fd, settings, list_position);
  }
  impl_->baud_position = list_position;
}

int SerialPort::BaudRate() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->baud_position;
}

void SerialPort::SetReceiveHandler(std::function<void(int count)> handler,
                                   EventDispatcher* dispatcher) {
  std::lock_guard lock(impl_->mutex);
  impl_->handler = std::move(handler);
  impl_->dispatcher = dispatcher;
}

bool SerialPort::Open() {
  std::lock_guard lock(impl_->mutex);
  if (impl_->fd < 0) impl_->OpenLocked();
  return impl_->fd >= 0;
}

bool SerialPort::Close() {
  std::lock_guard lock(impl_->mutex);
  if (impl_->fd >= 0) impl_->CloseLocked(/*force=*/false);
  return impl_->fd < 0;
}

bool SerialPort::IsOpen() const { return impl_->open; }

int SerialPort::Write(std::span<const std::uint8_t> bytes) {
  std::lock_guard lock(impl_->mutex);
  const int fd = impl_->fd;
  if (fd < 0) throw PortError(kErrWrite);
  const auto deadline = Clock::now() + kOneMs * (static_cast<long>(bytes.size()) + 1);
  std::size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
    if (n > 0) {
      written += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) ThrowIoFailure(fd, kErrWrite);
    const int revents = PollUntil(fd, POLLOUT, deadline);
    if (revents < 0 || (revents & kGone)) ThrowIoFailure(fd, kErrWrite);
    if (revents == 0) break;  // out of time: a short write, which is no error
  }
  return static_cast<int>(written);
}

Bytes SerialPort::Read(int max) {
  std::lock_guard lock(impl_->mutex);
  const int fd = impl_->fd;
  if (fd < 0) throw PortError(kErrRead);
  Bytes received;
  if (max <= 0) return received;
  const auto start = Clock::now();
  const auto total_deadline = start + kOneMs * (static_cast<long>(max) + 1);
  std::optional<Clock::time_point> last_byte;
  received.resize(static_cast<std::size_t>(max));
  std::size_t got = 0;
  while (got < received.size()) {
    const ssize_t n = ::read(fd, received.data() + got, received.size() - got);
    if (n > 0) {
      got += static_cast<std::size_t>(n);
      last_byte = Clock::now();
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    // A failure after some bytes came (the console answered, then its line went) still
    // returns those bytes: they were received, and the next call meets the failure.
    if (n < 0 && errno != EAGAIN) {
      if (got > 0) break;
      ThrowIoFailure(fd, kErrRead);
    }
    // Nothing more waiting (a raw tty without VMIN answers 0 or EAGAIN): wait for the next
    // byte until the gap after the last byte or the read's whole time runs out.
    const auto deadline =
        last_byte ? std::min(total_deadline, *last_byte + kOneMs) : total_deadline;
    const int revents = PollUntil(fd, POLLIN, deadline);
    if (revents < 0 || (revents & kGone)) {
      if (got > 0) break;
      ThrowIoFailure(fd, kErrRead);
    }
    if (revents == 0) break;
  }
  received.resize(got);
  return received;
}

}  // namespace gateway
