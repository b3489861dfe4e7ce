// How the supervision logic reaches the console port: exclusive sessions of single-byte writes
// and bounded reads. The channels layer supplies the real one; tests supply a fake.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "frames/bytes.h"

namespace gateway {

// Exclusive use of the console port for one exchange; released when destroyed.
class ConsoleSession {
 public:
  virtual ~ConsoleSession() = default;
  // One write of one byte; throws on a failed write.
  virtual void WriteByte(std::uint8_t byte) = 0;
  // One read of up to `max` bytes under the port's read rule; throws on a failed read.
  virtual Bytes Read(int max) = 0;
};

class ConsoleExchange {
 public:
  virtual ~ConsoleExchange() = default;
  // Begins an exchange from the main thread; waits behind at most the exchange in progress.
  // Returns nullptr when the main thread already holds the port (inside pumped events).
  virtual std::unique_ptr<ConsoleSession> BeginExchange() = 0;
  // Opens the port with its current settings if it is closed. Returns whether it is open;
  // throws the port's error when opening fails.
  virtual bool EnsureOpen() = 0;
};

// Writes a frame one byte per write call, first byte first.
void WriteFrame(ConsoleSession& session, const Bytes& frame);

// The console's reply to a frame just written, waited for as the fault and restore reports do:
// up to `attempts` tries, each runs `pump` and then reads up to `max` bytes. The first read that
// yields a byte ends the wait with what it read; a failed read ends it with no bytes, which is
// no acknowledgement. `pump` failures propagate.
Bytes AwaitReply(ConsoleSession& session, const std::function<void()>& pump, int attempts = 50,
                 int max = 100);

// A reply of exactly 4 bytes acknowledges a frame, whatever its contents.
inline bool IsAcknowledgement(const Bytes& reply) { return reply.size() == 4; }

}  // namespace gateway
