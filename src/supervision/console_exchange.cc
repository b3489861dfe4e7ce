#include "supervision/console_exchange.h"

namespace gateway {

void WriteFrame(ConsoleSession& session, const Bytes& frame) {
  for (std::uint8_t byte : frame) session.WriteByte(byte);
}

}  // namespace gateway
