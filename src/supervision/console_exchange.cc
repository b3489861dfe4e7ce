#include "supervision/console_exchange.h"

#include <exception>

namespace gateway {

void WriteFrame(ConsoleSession& session, const Bytes& frame) {
  for (std::uint8_t byte : frame) session.WriteByte(byte);
}

Bytes AwaitReply(ConsoleSession& session, const std::function<void()>& pump, int attempts,
                 int max) {
  for (int attempt = 0; attempt < attempts; ++attempt) {
    pump();
    Bytes reply;
    try {
      reply = session.Read(max);
    } catch (const std::exception&) {
      return {};
    }
    if (!reply.empty()) return reply;
  }
  return {};
}

}  // namespace gateway
