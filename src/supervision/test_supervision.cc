#include "supervision/test_supervision.h"

#include <exception>
#include <memory>
#include <stdexcept>
#include <utility>

#include "frames/conversion_error.h"

namespace gateway {

namespace {

constexpr char kCounterZero[] = "000";
constexpr char kNoFault[] = "000";
constexpr char kFaultReported[] = "001";
constexpr int kSecondsPerMinute = 60;

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Holds an exchange flag at 1 for the life of the guard, back to 0 however the scope ends.
class FlagRaised {
 public:
  explicit FlagRaised(ExchangeFlag& flag) : flag_(flag) { flag_.Set(1); }
  ~FlagRaised() { flag_.Set(0); }
  FlagRaised(const FlagRaised&) = delete;
  FlagRaised& operator=(const FlagRaised&) = delete;

 private:
  ExchangeFlag& flag_;
};

}  // namespace

std::string StatusLineText(std::string_view port_name, std::string_view address,
                           std::string_view tcp_port, int connection_count) {
  std::string text;
  text.append(port_name).append(", ").append(address).append(", ").append(tcp_port);
  text.append(", соединений: ").append(std::to_string(connection_count));
  return text;
}

std::string AdvanceCounter(std::string_view counter, int second_counter) {
  int value = 0;
  if (counter.size() == 3) {
    for (char c : counter) {
      const int digit = HexDigitValue(c);
      if (digit < 0) {
        value = 0;
        break;
      }
      value = value * 16 + digit;
    }
  }
  if (second_counter >= kSecondsPerMinute - 1) ++value;
  static constexpr char kHexDigits[] = "0123456789ABCDEF";
  std::string digits;
  for (; value > 0; value /= 16) digits.insert(digits.begin(), kHexDigits[value % 16]);
  if (digits.size() < 3) digits.insert(0, 3 - digits.size(), '0');
  return digits.substr(0, 3);
}

TestSupervision::TestSupervision(ObjectTable& table, GatewayState& state, ConsoleExchange& console,
                                 SupervisionHooks hooks)
    : table_(table), state_(state), console_(console), hooks_(std::move(hooks)) {
  if (!hooks_.process_events || !hooks_.console_write_failure || !hooks_.show_status) {
    throw std::invalid_argument("TestSupervision needs every hook");
  }
}

bool TestSupervision::Tick(const SupervisionTickInput& input) {
  if (running_) return false;
  running_ = true;
  struct Finished {
    bool& running;
    ~Finished() { running = false; }
  } finished{running_};

  state_.ConnectionCount = input.connection_count;
  hooks_.show_status(
      StatusLineText(input.port_name, input.address, input.tcp_port, input.connection_count));
  if (!input.connected) return true;

  const int second_counter = state_.SecondCounter.load();
  for (std::size_t index = 0; index < table_.RecordCount(); ++index) {
    hooks_.process_events();
    if (index >= table_.RecordCount()) break;
    VisitRecord(index, second_counter);
  }
  const int next = second_counter + 1;
  state_.SecondCounter = next >= kSecondsPerMinute ? 0 : next;
  return true;
}

void TestSupervision::VisitRecord(std::size_t index, int second_counter) {
  enum class Due { kNothing, kFault, kRestore };
  Due due = Due::kNothing;
  int object_number = 0;
  // Decided and advanced under one lock, so a reset from a connection thread between reading
  // the counter and writing it back is never lost.
  table_.UpdateRecord(index, [&](ObjectRecord& record) {
    try {
      object_number = ReadDecimal(record.ObjectNumber());
    } catch (const ConversionError&) {
      return;  // a record without a decimal object number takes no part in supervision
    }
    const std::string_view counter = record.MinuteCounter();
    const std::string_view state = record.FaultState();
    const std::string_view limit = record.Limit();
    if (counter == limit && state == kNoFault) {
      due = Due::kFault;
    } else if (counter == kCounterZero && state == kFaultReported) {
      due = Due::kRestore;
    } else if (counter == limit || state != kNoFault) {
      return;
    } else {
      record.SetMinuteCounter(AdvanceCounter(counter, second_counter));
    }
  });
  if (due == Due::kFault) Report(index, FaultFrame(object_number), kFaultReported);
  if (due == Due::kRestore) Report(index, RestoreFrame(object_number), kNoFault);
}

void TestSupervision::Report(std::size_t index, const ConsoleFrame& frame,
                             std::string_view acknowledged_state) {
  std::unique_ptr<ConsoleSession> session = console_.BeginExchange();
  // The main thread holds the port already (this tick runs inside pumped events of another
  // exchange): the record stays due and its frame goes out at a later tick.
  if (!session) return;
  Bytes reply;
  {
    FlagRaised active(state_.SupervisionExchangeActive);
    try {
      WriteFrame(*session, frame);
    } catch (const std::exception&) {
      // The failure handling closes the port and stops the server, whose connection threads
      // may be waiting for the port: it must not run while this exchange holds it.
      session.reset();
      hooks_.console_write_failure();
      session = console_.BeginExchange();
    }
    if (session) reply = AwaitReply(*session, hooks_.process_events);
    session.reset();
  }
  if (!IsAcknowledgement(reply)) return;
  table_.UpdateRecord(index,
                      [&](ObjectRecord& record) { record.SetFaultState(acknowledged_state); });
}

}  // namespace gateway
